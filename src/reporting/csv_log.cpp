#include "reporting/csv_log.h"

#include <cstdio>
#include <ctime>

#include "support/paths.h"
#include "support/text.h"
#include "support/textfile.h"
#include "support/wait.h"

namespace pv {
namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kCsvSource = "PVX";
constexpr const char* kHeaderFields[] = {"date",       "senderhostname", "relayhostname",
                                         "source",     "type",           "sender",
                                         "recipients", "subject",        "exitcode",
                                         "msg"};

// Every occurrence of token (any case) replaced by value; the inserted text is not searched.
std::string ReplaceNoCase(std::string_view text, std::string_view token, std::string_view value) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = FindNoCase(text, token, from)) != std::string_view::npos;
       from = at + token.size())
    out.append(text.substr(from, at - from)).append(value);
  return out.append(text.substr(from));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string_view::npos;
       start = at + from.size())
    out.append(text.substr(start, at - start)).append(to);
  return out.append(text.substr(start));
}

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

}  // namespace

int WeekOfYear(LocalDateTime date) {
  const int firstWeekday = WeekdayOf(LocalDateTime::FromCivil(date.Year(), 1, 1));
  return (DayOfYear(date) + firstWeekday) / 7 + 1;
}

std::string BuildLogFileName(std::string_view logFileName, std::string_view logFileDir,
                             LocalDateTime now) {
  std::string name = ReplaceNoCase(logFileName, "month$", TwoDigits(now.Month()));
  name = ReplaceNoCase(name, "day$", TwoDigits(now.Day()));
  char year[16];
  std::snprintf(year, sizeof year, "%04d", now.Year());
  name = ReplaceNoCase(name, "year$", year);
  name = ReplaceNoCase(name, "hour$", TwoDigits(now.Hour()));
  name = ReplaceNoCase(name, "week$", std::to_string(WeekOfYear(now)));
  return AddTrailingSeparator(logFileDir) + name;
}

std::string FormatCsvDate(LocalDateTime value) { return FormatGeneralDate(value); }

std::string QuoteCsvText(std::string_view value, std::string_view quote) {
  if (quote.empty()) return std::string(value);
  const std::string single(quote);
  const std::string doubled = single + single;
  return single + ReplaceAll(ReplaceAll(value, doubled, single), single, doubled) + single;
}

std::string EscapeCsvMessage(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

std::string CsvHeaderLine(const CsvFormat& format) {
  std::string line;
  for (const char* field : kHeaderFields) {
    if (!line.empty()) line += format.separator;
    line += field;
  }
  return line + kLineEnd;
}

std::string CsvDataLine(const CsvLogEntry& entry, const CsvFormat& format) {
  const std::string fields[] = {
      entry.date,
      QuoteCsvText(entry.senderHostName, format.quote),
      QuoteCsvText(entry.relayHostName, format.quote),
      kCsvSource,
      std::to_string(entry.kind),
      QuoteCsvText(entry.sender, format.quote),
      QuoteCsvText(entry.recipients, format.quote),
      QuoteCsvText(entry.subject, format.quote),
      std::to_string(entry.exitCode),
      QuoteCsvText(EscapeCsvMessage(entry.text), format.quote),
  };
  std::string line;
  for (const std::string& field : fields) {
    if (&field != &fields[0]) line += format.separator;
    line += field;
  }
  return line + kLineEnd;
}

namespace {

// One field from `at` on: a quoted one up to its closing quote (a doubled quote is one), any
// other up to the separator; `at` ends after the separator that follows, or at the end.
std::string NextCsvField(std::string_view line, std::size_t& at, const CsvFormat& format) {
  const std::string_view quote = format.quote, separator = format.separator;
  std::string field;
  if (!quote.empty() && line.substr(at).starts_with(quote)) {
    at += quote.size();
    for (;;) {
      const std::size_t close = line.find(quote, at);
      if (close == std::string_view::npos) {
        field.append(line.substr(at));
        at = line.size();
        break;
      }
      field.append(line.substr(at, close - at));
      at = close + quote.size();
      if (!line.substr(at).starts_with(quote)) break;
      field.append(quote);
      at += quote.size();
    }
  }
  const std::size_t end = separator.empty() ? line.size() : line.find(separator, at);
  field.append(line.substr(at, end == std::string_view::npos ? line.size() - at : end - at));
  at = end == std::string_view::npos ? std::string_view::npos : end + separator.size();
  return field;
}

}  // namespace

std::vector<std::string> SplitCsvDataLine(std::string_view line, const CsvFormat& format) {
  constexpr std::size_t kFields = std::size(kHeaderFields);
  std::vector<std::string> fields;
  for (std::size_t at = 0; at != std::string_view::npos && at <= line.size();)
    fields.push_back(NextCsvField(line, at, format));
  if (fields.size() < kFields) return {};
  while (fields.size() > kFields) {
    fields[0] += format.separator + fields[1];
    fields.erase(fields.begin() + 1);
  }
  return fields;
}

CsvLog::CsvLog(CsvLogEnvironment environment, Notifier& notifier, EventLog& eventLog)
    : env_(std::move(environment)), notifier_(notifier), eventLog_(eventLog) {
  if (!env_.timing.pause) env_.timing.pause = [] { WaitSeconds(1); };
}

std::string CsvLog::LogFilePath(const SpoolerSettings& settings) const {
  return PathAt(settings, env_.timing.now());
}

std::string CsvLog::PathAt(const SpoolerSettings& settings, LocalDateTime now) const {
  std::lock_guard lock(mutex_);
  return BuildLogFileName(settings.LogFileName,
                          directoryOverride_ ? *directoryOverride_ : settings.LogFileDir, now);
}

void CsvLog::OnSettingsLoaded() {
  std::lock_guard lock(mutex_);
  directoryOverride_.reset();
}

bool CsvLog::WriteCsvLogLine(const SpoolerSettings& settings, std::uint16_t kind,
                             const std::string& sender, const std::string& recipients,
                             const std::string& subject, std::int32_t exitCode,
                             const std::string& text) {
  const LocalDateTime now = env_.timing.now();
  const std::string path = PathAt(settings, now);
  const std::string line =
      CsvDataLine({FormatCsvDate(now), settings.SenderHostName, settings.RelayHostName, kind,
                   sender, recipients, subject, exitCode, text},
                  env_.format);
  for (int attempt = 1; attempt <= env_.timing.maxTries; ++attempt) {
    IoError error;
    if (AppendLine(path, line, error)) return true;
    if (error.number == kErrPathNotFound) {
      ReportMissingDirectory(path, error);
      return false;
    }
    if (attempt < env_.timing.maxTries) env_.timing.pause();
  }
  return false;
}

// One try under the lock: the header when the file is new, then the line.
bool CsvLog::AppendLine(const std::string& path, const std::string& line, IoError& error) {
  std::lock_guard lock(mutex_);
  if (!FileExists(path)) {
    IoError ignored;  // a failed header shows in the append that follows
    // Readable by the service's group (adm for /var/log/postvane), not by every user.
    WriteTextFile(path, CsvHeaderLine(env_.format), false, "", ignored, "", 0640);
  }
  if (WriteTextFile(path, line, true, "", error, "", 0640)) return true;
  if (error.number == kErrPathNotFound) directoryOverride_ = env_.programDirectory;
  return false;
}

void CsvLog::ReportMissingDirectory(const std::string& path, const IoError& error) {
  const std::string message = "Can not write into logfile '" + path + "' Error: " + error.text;
  if (env_.isService) {
    std::string source = env_.applicationTitle;
    eventLog_.WriteEventLogEntry(message, kEventError, source);
  } else {
    notifier_.ShowCriticalMessage(message);
  }
}

}  // namespace pv
