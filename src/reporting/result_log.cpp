#include "reporting/result_log.h"

#include <exception>

namespace pv {

ResultLog::ResultLog(const ReportingValues& values, std::function<SpoolerSettings()> settings,
                     Notifier& notifier, EventLog& eventLog, CsvLogTiming csvTiming)
    : title_(values.ApplicationTitle),
      settings_(std::move(settings)),
      notifier_(notifier),
      eventLog_(eventLog),
      csv_({{values.CsvQuote, values.CsvSeparator}, values.IsService, values.ProgramDirectory,
            values.ApplicationTitle, std::move(csvTiming)},
           notifier, eventLog) {}

void ResultLog::ReportResult(ResultKind kind, const std::string& sender,
                             const std::string& recipients, const std::string& subject,
                             std::int32_t exitCode, const std::string& message,
                             const std::string& protocol) {
  // Reporting must never take the caller down with it: whatever an output throws is dropped.
  try {
    Dispatch(settings_(), kind, sender, recipients, subject, exitCode, message,
             protocol.empty() ? message : protocol);
  } catch (const std::exception&) {
  }
}

void ResultLog::Dispatch(const SpoolerSettings& settings, ResultKind kind,
                         const std::string& sender, const std::string& recipients,
                         const std::string& subject, std::int32_t exitCode,
                         const std::string& message, const std::string& protocol) {
  const bool isError = kind == kResultError;
  const bool balloon = isError ? settings.ShowErrorBallons : settings.ShowSuccessBallons;
  const bool eventLog = isError ? settings.WriteErrorNTEventLog : settings.WriteSuccessNTEventLog;
  const bool csvLog = isError ? settings.WriteErrorCSVLog : settings.WriteSuccessCSVLog;
  if (balloon)
    notifier_.ShowBalloon(isError ? BalloonIcon::Error : BalloonIcon::Information,
                          title_ + (isError ? " Error" : " Success"), message);
  if (eventLog) {
    std::string source = kResultEventSource;
    eventLog_.WriteEventLogEntry(protocol, static_cast<std::uint16_t>(kind), source);
  }
  if (csvLog) csv_.WriteCsvLogLine(settings, kind, sender, recipients, subject, exitCode, protocol);
}

std::string ResultLog::BuildLogFileName() const { return csv_.LogFilePath(settings_()); }

void ResultLog::OnSettingsLoaded() { csv_.OnSettingsLoaded(); }

}  // namespace pv
