#include "shell/queue_channel.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>

#include "platform/control_channel.h"
#include "platform/user_dirs.h"
#include "platform/user_groups.h"
#include "shell/queue_command.h"
#include "support/paths.h"

namespace pv {
namespace {

// A listing of thousands of mails takes the service a while (their headers and its logs).
constexpr int kListingTimeoutMs = 120000;
constexpr int kOperationTimeoutMs = 30000;

const std::pair<Command, std::string_view> kQueueVerbs[] = {
    {Command::Delete, "DELETE"},
    {Command::Hold, "HOLD"},
    {Command::Release, "RELEASE"},
    {Command::RetryNow, "RETRY"},
};

bool CommandOfVerb(std::string_view verb, Command& command) {
  for (const auto& [known, word] : kQueueVerbs)
    if (word == verb) {
      command = known;
      return true;
    }
  return false;
}

bool StateOfName(const QString& word, QueueState& state) {
  for (const QueueState known : {QueueState::Waiting, QueueState::Due, QueueState::Held,
                                 QueueState::InHand, QueueState::Error})
    if (word.toStdString() == QueueStateName(known)) {
      state = known;
      return true;
    }
  return false;
}

bool ParseJsonArray(std::string_view line, QJsonArray& array) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(
      QByteArray(line.data(), static_cast<qsizetype>(line.size())), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) return false;
  array = document.array();
  return true;
}

bool EntryOfJson(const QJsonObject& o, QueueEntry& e) {
  const auto text = [&o](const char* name) { return o.value(name).toString().toStdString(); };
  if (!o.value("file").isString() || !StateOfName(o.value("state").toString(), e.state))
    return false;
  e.name = text("file");
  e.size = o.value("size").toInteger();
  e.ageSeconds = o.value("age").toInteger();
  e.sender = text("sender");
  e.subject = text("subject");
  e.recipients = text("recipients");
  e.attempts = static_cast<std::int32_t>(o.value("attempts").toInteger());
  e.nextAttempt = text("next_attempt");
  e.lastError = text("last_error");
  return true;
}

// The answer to one request, or "" with error set: the service did not answer, refused, or
// failed (the words of the channel become sentences).
std::string Ask(const std::string& socketPath, const std::string& request, int timeoutMs,
                std::string& error) {
  std::string sendError;
  const std::string answer = SendControlRequest(socketPath, request, sendError, timeoutMs);
  if (answer.empty())
    error = "the service's spool directory cannot be read and the service does not answer: " +
            sendError;
  else if (answer == "DENIED")
    error = "the service refuses the queue tools to this user: they are for root, the service's "
            "user and the members of the group " + std::string(kServiceGroup);
  else if (answer == "UNKNOWN")
    error = "the running service does not take queue requests (restart it after an update)";
  else if (answer.starts_with("FAILED "))
    error = answer.substr(7);
  else if (!answer.starts_with("["))
    error = "the service's answer is not understood: " + answer.substr(0, 80);
  else
    return answer;
  return "";
}

}  // namespace

bool ValidMailName(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
}

std::string_view QueueVerbOf(Command command) {
  for (const auto& [known, word] : kQueueVerbs)
    if (known == command) return word;
  return "";
}

std::string FormatQueueResultsLine(const std::vector<QueueResult>& results) {
  std::string out = "[";
  for (const QueueResult& result : results)
    out += std::string(&result == &results.front() ? "" : ",") + "{\"ok\":" +
           (result.ok ? "true" : "false") + ",\"text\":" + JsonString(result.text) + "}";
  return out + "]";
}

bool ParseQueueResults(std::string_view line, std::vector<QueueResult>& results) {
  QJsonArray array;
  if (!ParseJsonArray(line, array)) return false;
  for (const QJsonValue& value : array) {
    const QJsonObject o = value.toObject();
    if (!o.value("ok").isBool() || !o.value("text").isString()) return false;
    results.push_back({o.value("ok").toBool(), o.value("text").toString().toStdString()});
  }
  return true;
}

bool ParseQueueJson(std::string_view line, std::vector<QueueEntry>& entries) {
  QJsonArray array;
  if (!ParseJsonArray(line, array)) return false;
  for (const QJsonValue& value : array) {
    QueueEntry entry;
    if (!EntryOfJson(value.toObject(), entry)) return false;
    entries.push_back(std::move(entry));
  }
  return true;
}

std::string AnswerQueueRequest(const SpoolerSettings& settings, std::string_view verb,
                               const std::string& name) {
  const SpoolQueue queue(settings.SpoolFilePattern);
  if (verb == "QUEUE") {
    bool ok = false;
    std::string error;
    const std::vector<QueueEntry> entries = ListQueueEntries(queue, settings, ok, error);
    return ok ? FormatQueueJsonLine(entries) : "FAILED " + error;
  }
  Command command;
  if (!CommandOfVerb(verb, command)) return "UNKNOWN";
  const bool all = command == Command::RetryNow && name == "*";
  const std::vector<std::string> names = all ? queue.SpoolNames() : std::vector<std::string>{name};
  std::vector<QueueResult> results;
  for (const std::string& each : names) {
    std::string error;
    const std::string resolved = queue.Resolve(each, error);
    results.push_back(resolved.empty() ? QueueResult{false, error}
                                       : ApplyQueueCommand(queue, command, resolved));
  }
  return FormatQueueResultsLine(results);
}

std::vector<QueueEntry> ServiceListing(const std::string& socketPath, bool& ok,
                                       std::string& error) {
  std::vector<QueueEntry> entries;
  const std::string answer = Ask(socketPath, "QUEUE", kListingTimeoutMs, error);
  ok = !answer.empty() && ParseQueueJson(answer, entries);
  if (!answer.empty() && !ok) error = "the service's listing is not understood";
  return entries;
}

std::vector<QueueResult> ServiceOperations(const std::string& socketPath, const SpoolQueue& queue,
                                           const CommandLine& line, std::string& error) {
  const std::string verb(QueueVerbOf(line.command));
  std::vector<QueueResult> results;
  // A name is resolved here as the direct tool resolves it, so that a refusal reads the same.
  for (const std::string& argument : line.all ? std::vector<std::string>{"*"} : line.files) {
    std::string why;
    const std::string name = line.all ? argument : queue.Resolve(argument, why);
    if (!line.all && !ValidMailName(name)) {
      results.push_back(
          {false, name.empty() ? why : "'" + argument + "' is not the name of a mail"});
      continue;
    }
    const std::string answer = Ask(socketPath, verb + " " + name, kOperationTimeoutMs, error);
    if (answer.empty()) break;
    if (!ParseQueueResults(answer, results)) {
      error = "the service's answer is not understood: " + answer.substr(0, 80);
      break;
    }
  }
  return results;
}

}  // namespace pv
