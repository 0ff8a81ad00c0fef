#pragma once
// Where every result goes: one call per delivery attempt, invalid file or failed write.
#include <cstdint>
#include <string>

#include "support/exit_codes.h"

namespace pv {

enum ResultKind : std::uint16_t { kResultError = 1, kResultSuccess = 4 };

class ResultReporter {
 public:
  virtual ~ResultReporter() = default;
  virtual void ReportResult(ResultKind kind, const std::string& sender,
                            const std::string& recipients, const std::string& subject,
                            std::int32_t exitCode, const std::string& message,
                            const std::string& protocol) = 0;
};

}  // namespace pv
