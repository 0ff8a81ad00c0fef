#include "support/exit_codes.h"

namespace pv {

std::atomic<std::int32_t> LastExitCode{0};

}  // namespace pv
