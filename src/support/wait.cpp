#include "support/wait.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace pv {
namespace {

std::mutex pumpMutex;
std::function<void()> eventPump;
std::thread::id pumpThread;

}  // namespace

void SetEventPump(std::function<void()> pump) {
  std::lock_guard lock(pumpMutex);
  eventPump = std::move(pump);
  pumpThread = std::this_thread::get_id();
}

void WaitSeconds(double seconds) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto span = std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
  std::function<void()> pump;
  {
    std::lock_guard lock(pumpMutex);
    // Events belong to the thread that owns the event loop; other threads just wait.
    if (pumpThread == std::this_thread::get_id()) pump = eventPump;
  }
  while (Clock::now() - start <= span) {
    if (pump) pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace pv
