#include "support/duration_text.h"

namespace pv {

std::string DurationText(std::chrono::milliseconds span) {
  const auto ms = span.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

}  // namespace pv
