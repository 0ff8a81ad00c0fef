#pragma once
// Where every result goes: one call per delivery attempt, invalid file or failed write.
#include <atomic>
#include <cstdint>
#include <string>

namespace pv {

enum ResultKind : std::uint16_t { kResultError = 1, kResultSuccess = 4 };

// The exit codes of results.
enum ExitCode : std::int32_t {
  kExitDelivered = 0,
  kExitTransportFailed = 12,
  kExitDeliveryError = 13,
};

class ResultReporter {
 public:
  virtual ~ResultReporter() = default;
  virtual void ReportResult(ResultKind kind, const std::string& sender,
                            const std::string& recipients, const std::string& subject,
                            std::int32_t exitCode, const std::string& message,
                            const std::string& protocol) = 0;
};

// The exit code of the last result.
extern std::atomic<std::int32_t> LastExitCode;

}  // namespace pv
