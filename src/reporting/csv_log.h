#pragma once
// The CSV log: one line per reported result, appended to a file whose name carries date
// variables ("PVX-year$-month$-day$.csv" gives one file per day). A new file starts with the
// header line. Lines end with CR LF; the separator and the quote come from the start-up values.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reporting_api/notifier.h"
#include "reporting/syslog_sink.h"
#include "settings/spooler_settings.h"
#include "support/date_time.h"
#include "support/io_error.h"

namespace pv {

// The log's name: "month$", "day$", "year$", "hour$" and "week$" (any case, in this order)
// replaced by the values of `now`, after logFileDir with a separator.
std::string BuildLogFileName(std::string_view logFileName, std::string_view logFileDir,
                             LocalDateTime now);
// Week of the year: weeks begin on Sunday, week 1 holds 1 January (1 ... 54).
int WeekOfYear(LocalDateTime date);

// The date column: the locale's general date, short date, a blank, long time (strftime
// "%x %X" under LC_TIME).
std::string FormatCsvDate(LocalDateTime value);

// Every doubled quote becomes one, then every quote is doubled, then the whole is quoted.
std::string QuoteCsvText(std::string_view value, std::string_view quote);
// CR, LF and TAB as the two characters \r, \n and \t: the result holds no line break.
std::string EscapeCsvMessage(std::string_view text);

struct CsvFormat {
  std::string quote = "\"";
  std::string separator = ",";
};

// One result as a line of the log.
struct CsvLogEntry {
  std::string date;  // already formatted
  std::string senderHostName;
  std::string relayHostName;
  std::uint16_t kind = 0;
  std::string sender;
  std::string recipients;
  std::string subject;
  std::int32_t exitCode = 0;
  std::string text;  // the protocol, or the message when there is none
};

std::string CsvHeaderLine(const CsvFormat& format);
std::string CsvDataLine(const CsvLogEntry& entry, const CsvFormat& format);

// A line of the log read back (without its line end): its ten fields, unquoted, the message
// still escaped. A date that holds the separator makes more pieces at the front; they are
// joined into the date again. Empty when the line has fewer than ten fields.
std::vector<std::string> SplitCsvDataLine(std::string_view line, const CsvFormat& format);

// The clock and the retries; tests replace them.
struct CsvLogTiming {
  std::function<LocalDateTime()> now = [] { return LocalDateTime::Now(); };
  // Appends tried before a line is dropped, and the pause between two of them.
  int maxTries = 60;
  std::function<void()> pause;  // empty: WaitSeconds(1)
};

// What the log needs of the process.
struct CsvLogEnvironment {
  CsvFormat format;
  bool isService = false;
  std::string programDirectory;  // where the log goes once its directory proved missing
  std::string applicationTitle = "Postvane";  // the source of the system log entry
  CsvLogTiming timing;
};

// Appends lines from any thread; appends are serialised, the pauses between tries and the
// message about a missing directory are not, so a blocked thread never holds up another.
class CsvLog {
 public:
  CsvLog(CsvLogEnvironment environment, Notifier& notifier, EventLog& eventLog);

  // True when the line was appended. A missing directory is told once per line (the system
  // log for the service, a message at the desktop otherwise) and moves the log to the program
  // directory until OnSettingsLoaded; any other failure is retried, then the line is dropped.
  bool WriteCsvLogLine(const SpoolerSettings& settings, std::uint16_t kind,
                       const std::string& sender, const std::string& recipients,
                       const std::string& subject, std::int32_t exitCode,
                       const std::string& text);

  // The current log file under these settings (and the directory fallback, if any).
  std::string LogFilePath(const SpoolerSettings& settings) const;

  // The settings were loaded again: their LogFileDir counts once more.
  void OnSettingsLoaded();

 private:
  std::string PathAt(const SpoolerSettings& settings, LocalDateTime now) const;
  bool AppendLine(const std::string& path, const std::string& line, IoError& error);
  void ReportMissingDirectory(const std::string& path, const IoError& error);

  CsvLogEnvironment env_;
  Notifier& notifier_;
  EventLog& eventLog_;
  mutable std::mutex mutex_;
  std::optional<std::string> directoryOverride_;
};

}  // namespace pv
