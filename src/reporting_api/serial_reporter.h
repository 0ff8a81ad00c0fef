#pragma once
// Hands each result on whole and one at a time, whichever thread reports it: the concurrent
// deliveries of a spool run share one log, and LastExitCode is the code of the last report.
#include <mutex>

#include "reporting_api/result_reporter.h"

namespace pv {

class SerialReporter : public ResultReporter {
 public:
  explicit SerialReporter(ResultReporter& target) : target_(target) {}
  void ReportResult(ResultKind kind, const std::string& sender, const std::string& recipients,
                    const std::string& subject, std::int32_t exitCode, const std::string& message,
                    const std::string& protocol) override {
    const std::lock_guard lock(mutex_);
    LastExitCode = exitCode;
    target_.ReportResult(kind, sender, recipients, subject, exitCode, message, protocol);
  }

 private:
  ResultReporter& target_;
  std::mutex mutex_;
};

}  // namespace pv
