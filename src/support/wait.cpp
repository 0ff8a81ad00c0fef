#include "support/wait.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace pv {
namespace {

std::mutex pumpMutex;
std::function<void()> eventPump;

}  // namespace

void SetEventPump(std::function<void()> pump) {
  std::lock_guard lock(pumpMutex);
  eventPump = std::move(pump);
}

void WaitSeconds(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto span = std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
  std::function<void()> pump;
  {
    std::lock_guard lock(pumpMutex);
    pump = eventPump;
  }
  while (Clock::now() - start <= span) {
    if (pump) pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace pv
