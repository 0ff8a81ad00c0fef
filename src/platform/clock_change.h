#pragma once
// Tells when the system's wall clock is set (by hand, by date -s, by an NTP step): a timer
// descriptor on CLOCK_REALTIME, armed for the end of time with TFD_TIMER_CANCEL_ON_SET, whose
// read fails with ECANCELED once the clock jumps. Watched on the event loop of the thread that
// starts it. A change of the UTC offset (daylight saving) moves no clock and is not told here.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "support/unique_fd.h"

class QSocketNotifier;

namespace pv {

// What one read of the timer descriptor said.
enum class ClockTimerRead { ClockSet, Quiet, Failed };

using ReadCall = std::function<ssize_t(int fd, void* buffer, size_t size)>;

// Arms (or re-arms) the timer for the end of time; false with error set.
bool ArmClockTimer(int fd, std::string& error);
// Reads the descriptor once and re-arms it after a clock set or an expiry; `read` is the
// system's read unless a test gives another.
ClockTimerRead ReadClockTimer(int fd, std::string& error, const ReadCall& read = nullptr);

class ClockChangeWatch {
 public:
  // onFailure hears why a read failed; the watch then stops.
  explicit ClockChangeWatch(std::function<void()> onClockSet,
                            std::function<void(const std::string& error)> onFailure = nullptr);
  ~ClockChangeWatch();
  ClockChangeWatch(const ClockChangeWatch&) = delete;
  ClockChangeWatch& operator=(const ClockChangeWatch&) = delete;

  // Opens and arms the timer and watches it; false with error set (the watch stays idle).
  bool Start(std::string& error);

 private:
  void OnReadable();

  std::function<void()> onClockSet_;
  std::function<void(const std::string& error)> onFailure_;
  UniqueFd fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace pv
