#pragma once
// A span of time as people read it in protocols and error texts.
#include <chrono>
#include <string>

namespace pv {

// "30 s" for whole seconds, else "250 ms".
std::string DurationText(std::chrono::milliseconds span);

}  // namespace pv
