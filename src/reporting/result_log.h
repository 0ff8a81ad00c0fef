#pragma once
// ResultLog, the one place every result goes: by its kind and six switches of the settings it
// becomes a balloon at the tray icon, an entry of the system log and a line of the CSV log.
#include <cstdint>
#include <functional>
#include <string>

#include "reporting_api/notifier.h"
#include "reporting_api/result_reporter.h"
#include "reporting/csv_log.h"
#include "reporting/syslog_sink.h"
#include "settings/spooler_settings.h"

namespace pv {

// The process-wide values reporting needs, taken from the start-up values by the shell.
struct ReportingValues {
  std::string CsvQuote = "\"";
  std::string CsvSeparator = ",";
  bool IsService = false;
  std::string ProgramDirectory;
  std::string ApplicationTitle = "Postvane";
};

inline constexpr const char* kResultEventSource = "PVX";

class ResultLog : public ResultReporter {
 public:
  // settings gives a snapshot of the current settings for every report. The CSV retry count,
  // pause and clock may be replaced by tests through the last argument.
  ResultLog(const ReportingValues& values, std::function<SpoolerSettings()> settings,
            Notifier& notifier, EventLog& eventLog, CsvLogTiming csvTiming = {});

  // May be called from any thread; it never fails, each of its outputs fails on its own.
  void ReportResult(ResultKind kind, const std::string& sender, const std::string& recipients,
                    const std::string& subject, std::int32_t exitCode,
                    const std::string& message, const std::string& protocol) override;

  // The current CSV log file.
  std::string BuildLogFileName() const;
  // To be called after every settings load: ends the fallback to the program directory.
  void OnSettingsLoaded();

 private:
  void Dispatch(const SpoolerSettings& settings, ResultKind kind, const std::string& sender,
                const std::string& recipients, const std::string& subject,
                std::int32_t exitCode, const std::string& message, const std::string& protocol);

  std::string title_;
  std::function<SpoolerSettings()> settings_;
  Notifier& notifier_;
  EventLog& eventLog_;
  CsvLog csv_;
};

}  // namespace pv
