#include "platform/clock_change.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace pv {
namespace {

std::string SystemError(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

}  // namespace

bool ArmClockTimer(int fd, std::string& error) {
  itimerspec spec{};
  // The kernel caps the value at its own end of time; the timer never expires.
  spec.it_value.tv_sec = std::numeric_limits<time_t>::max();
  if (::timerfd_settime(fd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) == 0) {
    return true;
  }
  error = SystemError("timerfd_settime");
  return false;
}

ClockTimerRead ReadClockTimer(int fd, std::string& error, const ReadCall& read) {
  std::uint64_t expirations = 0;
  ssize_t n = 0;
  do {
    n = read ? read(fd, &expirations, sizeof expirations)
             : ::read(fd, &expirations, sizeof expirations);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ClockTimerRead::Quiet;
  const bool clockSet = n < 0 && errno == ECANCELED;
  if (n < 0 && !clockSet) {
    error = SystemError("read of the clock timer");
    return ClockTimerRead::Failed;
  }
  // A set clock disarms nothing for good, but the watch counts on an armed timer: arm it anew.
  if (!ArmClockTimer(fd, error)) return ClockTimerRead::Failed;
  return clockSet ? ClockTimerRead::ClockSet : ClockTimerRead::Quiet;
}

ClockChangeWatch::ClockChangeWatch(std::function<void()> onClockSet,
                                   std::function<void(const std::string& error)> onFailure)
    : onClockSet_(std::move(onClockSet)), onFailure_(std::move(onFailure)) {}

ClockChangeWatch::~ClockChangeWatch() = default;

bool ClockChangeWatch::Start(std::string& error) {
  UniqueFd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!fd.ok()) {
    error = SystemError("timerfd_create");
    return false;
  }
  if (!ArmClockTimer(fd.get(), error)) return false;
  notifier_ = std::make_unique<QSocketNotifier>(fd.get(), QSocketNotifier::Read);
  fd_ = std::move(fd);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnReadable(); });
  return true;
}

void ClockChangeWatch::OnReadable() {
  std::string error;
  const ClockTimerRead result = ReadClockTimer(fd_.get(), error);
  if (result == ClockTimerRead::ClockSet && onClockSet_) onClockSet_();
  // A descriptor that fails once fails for good: stop watching rather than spin on it.
  if (result != ClockTimerRead::Failed) return;
  notifier_->setEnabled(false);
  if (onFailure_) onFailure_(error);
}

}  // namespace pv
