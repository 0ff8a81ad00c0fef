#include "shell/queue_command.h"

#include <cstdio>
#include <iostream>
#include <set>

#include "shell/launch.h"
#include "shell/linux_startup_platform.h"
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

void JsonField(std::string& out, std::string_view name, const std::string& value, bool last = false) {
  out += "    " + JsonString(name) + ": " + value + (last ? "\n" : ",\n");
}

std::string EntryAsJson(const QueueEntry& e) {
  std::string out = "  {\n";
  JsonField(out, "file", JsonString(e.name));
  JsonField(out, "size", std::to_string(e.size));
  JsonField(out, "age", std::to_string(e.ageSeconds));
  JsonField(out, "state", JsonString(QueueStateName(e.state)));
  JsonField(out, "sender", JsonString(e.sender));
  JsonField(out, "subject", JsonString(e.subject));
  JsonField(out, "recipients", JsonString(e.recipients));
  JsonField(out, "attempts", std::to_string(e.attempts));
  JsonField(out, "next_attempt", JsonString(e.nextAttempt));
  JsonField(out, "last_error", JsonString(e.lastError), true);
  return out + "  }";
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

int ListQueue(const SpoolQueue& queue, const SpoolerSettings& settings, bool json) {
  bool ok = false;
  std::vector<QueueEntry> entries = queue.List(LocalDateTime::Now(), ok);
  if (!ok) {
    std::perror(("postvane: cannot read the spool directory " + queue.directory()).c_str());
    return kQueueRefused;
  }
  FillLastErrors(entries, settings);
  std::cout << (json ? FormatQueueJson(entries) : FormatQueueTable(entries, queue.directory()));
  return kQueueDone;
}

QueueResult Apply(const SpoolQueue& queue, Command command, const std::string& name) {
  switch (command) {
    case Command::Delete: return queue.Delete(name);
    case Command::Hold: return queue.Hold(name);
    case Command::Release: return queue.Release(name);
    default: return queue.RetryNow(name, LocalDateTime::Now());
  }
}

// Each mail named, in turn; a refusal does not stop the others. Asks for a spool run when a
// retry-now made any mail due.
int WorkOnMails(const SpoolQueue& queue, const CommandLine& line) {
  const std::vector<std::string> names = line.all ? queue.SpoolNames() : line.files;
  int code = kQueueDone;
  bool madeDue = false;
  for (const std::string& argument : names) {
    std::string error;
    const std::string name = queue.Resolve(argument, error);
    const QueueResult result = name.empty() ? QueueResult{false, error} : Apply(queue, line.command, name);
    (result.ok ? std::cout : std::cerr) << (result.ok ? "" : "postvane: ") << result.text << "\n";
    if (!result.ok) code = kQueueRefused;
    madeDue = madeDue || result.ok;
  }
  if (line.command == Command::RetryNow && madeDue) AskSpoolers("SPOOLNOW");
  return code;
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
  for (const QueueEntry& entry : entries) out += (&entry == &entries.front() ? "\n" : ",\n") + EntryAsJson(entry);
  return out + (entries.empty() ? "]\n" : "\n]\n");
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

int RunQueueTool(const CommandLine& line) {
  InstallToolStartup(line.service);
  LoadSettingsRecord();
  const SpoolerSettings settings = SettingsSnapshot();
  const SpoolQueue queue(settings.SpoolFilePattern);
  if (line.command == Command::Queue) return ListQueue(queue, settings, line.json);
  return WorkOnMails(queue, line);
}

}  // namespace pv
