#include "shell/queue_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>

#include "platform/control_channel.h"
#include "shell/launch.h"
#include "shell/linux_startup_platform.h"
#include "shell/queue_channel.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/durable_write.h"
#include "support/exit_codes.h"
#include "support/text.h"

namespace pv {
namespace {

// How many days of logs back the last error of a mail is looked for.
constexpr int kLogDaysSearched = 7;

std::string Unescaped(std::string_view escaped) {
  std::string out;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const char next = i + 1 < escaped.size() ? escaped[i + 1] : '\0';
    if (escaped[i] == '\\' && (next == 'r' || next == 'n' || next == 't')) {
      out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\t';
      ++i;
    } else {
      out += escaped[i];
    }
  }
  return out;
}

// The layout of the JSON listing: indented lines for people, or all on one line.
struct JsonLayout {
  const char* item;   // before an object
  const char* field;  // before a field
  const char* colon;
  const char* end;    // before the closing brace
};
constexpr JsonLayout kIndented{"  ", "\n    ", ": ", "\n  "};
constexpr JsonLayout kOneLine{"", "", ":", ""};

std::string EntryAsJson(const QueueEntry& e, const JsonLayout& layout) {
  const std::pair<std::string_view, std::string> fields[] = {
      {"file", JsonString(e.name)},
      {"size", std::to_string(e.size)},
      {"age", std::to_string(e.ageSeconds)},
      {"state", JsonString(QueueStateName(e.state))},
      {"sender", JsonString(e.sender)},
      {"subject", JsonString(e.subject)},
      {"recipients", JsonString(e.recipients)},
      {"attempts", std::to_string(e.attempts)},
      {"next_attempt", JsonString(e.nextAttempt)},
      {"last_error", JsonString(e.lastError)},
  };
  std::string out = std::string(layout.item) + "{";
  for (const auto& [name, value] : fields)
    out += (name == "file" ? "" : ",") + std::string(layout.field) + JsonString(name) +
           layout.colon + value;
  return out + layout.end + "}";
}

// The texts of the CSV logs of the last days, newest first, each file once.
std::vector<std::string> RecentLogTexts(const SpoolerSettings& settings) {
  std::vector<std::string> texts;
  std::set<std::string> seen;
  const LocalDateTime now = LocalDateTime::Now();
  for (int day = 0; day < kLogDaysSearched; ++day) {
    const std::string path =
        BuildLogFileName(settings.LogFileName, settings.LogFileDir, now.AddDays(-day));
    if (!seen.insert(path).second) continue;
    std::string text;
    if (!ReadWholeFile(path, text)) texts.push_back(std::move(text));
  }
  return texts;
}

void FillLastErrors(std::vector<QueueEntry>& entries, const SpoolerSettings& settings) {
  const std::vector<std::string> logs = RecentLogTexts(settings);
  const CsvFormat format{Startup().CsvQuote, Startup().CsvSeparator};
  for (QueueEntry& entry : entries) {
    if (entry.attempts == 0) continue;  // never failed
    for (const std::string& log : logs) {
      entry.lastError = LastErrorInCsv(log, format, entry.sender, entry.subject);
      if (!entry.lastError.empty()) break;
    }
  }
}

int PrintListing(const std::vector<QueueEntry>& entries, bool ok, const std::string& error,
                 const SpoolQueue& queue, bool json) {
  if (!ok) {
    std::cerr << "postvane: " << error << "\n";
    return kQueueRefused;
  }
  std::cout << (json ? FormatQueueJson(entries) : FormatQueueTable(entries, queue.directory()));
  return kQueueDone;
}

// Each result in turn; a refusal does not stop the others. Asks for a spool run when a
// retry-now made any mail due.
int PrintResults(const std::vector<QueueResult>& results, Command command) {
  int code = kQueueDone;
  bool madeDue = false;
  for (const QueueResult& result : results) {
    (result.ok ? std::cout : std::cerr) << (result.ok ? "" : "postvane: ") << result.text << "\n";
    if (!result.ok) code = kQueueRefused;
    madeDue = madeDue || result.ok;
  }
  if (command == Command::RetryNow && madeDue) AskSpoolers("SPOOLNOW");
  return code;
}

std::vector<QueueResult> WorkOnMails(const SpoolQueue& queue, const CommandLine& line) {
  std::vector<QueueResult> results;
  for (const std::string& argument : line.all ? queue.SpoolNames() : line.files) {
    std::string error;
    const std::string name = queue.Resolve(argument, error);
    results.push_back(name.empty() ? QueueResult{false, error}
                                   : ApplyQueueCommand(queue, line.command, name));
  }
  return results;
}

// Whether the tools on the service's spool go through the service: when the directory
// cannot be read (a member of the group `postvane`), or when POSTVANE_QUEUE_VIA_SERVICE asks.
bool ThroughService(const SpoolQueue& queue) {
  const char* forced = std::getenv("POSTVANE_QUEUE_VIA_SERVICE");
  if (forced != nullptr && *forced != '\0' && std::string_view(forced) != "0") return true;
  const std::string directory = queue.directory().empty() ? "." : queue.directory();
  return ::access(directory.c_str(), R_OK | X_OK) != 0 && errno == EACCES;
}

int RunThroughService(const SpoolQueue& queue, const CommandLine& line) {
  const std::string socket = ServiceControlSocket();
  std::string error;
  if (line.command == Command::Queue) {
    bool ok = false;
    const std::vector<QueueEntry> entries = ServiceListing(socket, ok, error);
    return PrintListing(entries, ok, error, queue, line.json);
  }
  std::vector<QueueResult> results = ServiceOperations(socket, queue, line, error);
  if (!error.empty()) results.push_back({false, error});
  return PrintResults(results, line.command);
}

}  // namespace

std::string JsonString(std::string_view text) {
  const bool utf8 = IsValidUtf8(text);
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') out += std::string("\\") + c;
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (byte < 0x20 || byte == 0x7f) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
      out += buffer;
    } else if (byte >= 0x80 && !utf8) out += "\\ufffd";
    else out += c;
  }
  return out + "\"";
}

std::string FormatQueueJson(const std::vector<QueueEntry>& entries) {
  std::string out = "[";
  for (const QueueEntry& entry : entries)
    out += (&entry == &entries.front() ? "\n" : ",\n") + EntryAsJson(entry, kIndented);
  return out + (entries.empty() ? "]\n" : "\n]\n");
}

std::string FormatQueueJsonLine(const std::vector<QueueEntry>& entries) {
  std::string out = "[";
  for (const QueueEntry& entry : entries)
    out += (&entry == &entries.front() ? "" : ",") + EntryAsJson(entry, kOneLine);
  return out + "]";
}

std::string FormatAge(std::int64_t seconds) {
  char buffer[32];
  if (seconds < 60) std::snprintf(buffer, sizeof buffer, "%llds", static_cast<long long>(seconds));
  else if (seconds < 3600) std::snprintf(buffer, sizeof buffer, "%lldm", static_cast<long long>(seconds / 60));
  else if (seconds < 86400)
    std::snprintf(buffer, sizeof buffer, "%lldh %02lldm", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60));
  else
    std::snprintf(buffer, sizeof buffer, "%lldd %02lldh", static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds % 86400 / 3600));
  return buffer;
}

std::string FormatQueueTable(const std::vector<QueueEntry>& entries, std::string_view directory) {
  std::string out;
  int held = 0, inHand = 0;
  for (const QueueEntry& e : entries) {
    held += e.state == QueueState::Held;
    inHand += e.state == QueueState::InHand;
    char line[512];
    std::snprintf(line, sizeof line, "%-30s %10lld B  %-7s  %-7s  attempts %d%s%s\n",
                  e.name.c_str(), static_cast<long long>(e.size), FormatAge(e.ageSeconds).c_str(),
                  std::string(QueueStateName(e.state)).c_str(), e.attempts,
                  e.nextAttempt.empty() ? "" : "  next ", e.nextAttempt.c_str());
    out += line;
    out += "    from:       " + e.sender + "\n";
    out += "    to:         " + e.recipients + "\n";
    out += "    subject:    " + e.subject + "\n";
    if (!e.lastError.empty()) out += "    last error: " + e.lastError + "\n";
  }
  out += std::to_string(entries.size()) + " mail(s) in " + std::string(directory);
  if (held > 0 || inHand > 0)
    out += " (" + std::to_string(held) + " held, " + std::to_string(inHand) + " in hand)";
  return out + "\n";
}

std::string ErrorSummaryOfProtocol(std::string_view escapedProtocol) {
  const std::string protocol = Unescaped(escapedProtocol);
  std::string last, lastReply;
  for (const std::string& raw : Split(protocol, '\n')) {
    const std::string line(Trim(raw));
    if (line.empty()) continue;
    last = line;
    if (line.starts_with("S: 4") || line.starts_with("S: 5")) lastReply = line;
  }
  return lastReply.empty() ? last : lastReply;
}

std::string LastErrorInCsv(std::string_view csvText, const CsvFormat& format,
                           std::string_view sender, std::string_view subject) {
  std::string found;
  for (std::string_view line : SplitAt(csvText, "\r\n")) {
    const std::vector<std::string> fields = SplitCsvDataLine(line, format);
    // date, sender host, relay host, source, type, sender, recipients, subject, code, msg
    if (fields.empty() || fields[4] != "1" || fields[5] != sender || fields[7] != subject) continue;
    found = fields[9];
  }
  return found.empty() ? "" : ErrorSummaryOfProtocol(found);
}

std::vector<QueueEntry> ListQueueEntries(const SpoolQueue& queue, const SpoolerSettings& settings,
                                         bool& ok, std::string& error) {
  std::vector<QueueEntry> entries = queue.List(LocalDateTime::Now(), ok);
  if (!ok) {
    const std::string directory = queue.directory().empty() ? "." : queue.directory();
    ::access(directory.c_str(), R_OK | X_OK);
    error = "cannot read the spool directory " + queue.directory() + ": " + std::strerror(errno);
    return {};
  }
  FillLastErrors(entries, settings);
  return entries;
}

QueueResult ApplyQueueCommand(const SpoolQueue& queue, Command command, const std::string& name) {
  switch (command) {
    case Command::Delete: return queue.Delete(name);
    case Command::Hold: return queue.Hold(name);
    case Command::Release: return queue.Release(name);
    default: return queue.RetryNow(name, LocalDateTime::Now());
  }
}

int RunQueueTool(const CommandLine& line) {
  const bool service = InstallToolStartup(line.service);
  LoadSettingsRecord();
  const SpoolerSettings settings = SettingsSnapshot();
  const SpoolQueue queue(settings.SpoolFilePattern);
  if (service && ThroughService(queue)) return RunThroughService(queue, line);
  if (line.command == Command::Queue) {
    bool ok = false;
    std::string error;
    const std::vector<QueueEntry> entries = ListQueueEntries(queue, settings, ok, error);
    return PrintListing(entries, ok, error, queue, line.json);
  }
  return PrintResults(WorkOnMails(queue, line), line.command);
}

}  // namespace pv
