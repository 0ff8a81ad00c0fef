#include <gtest/gtest.h>
#include <sys/timerfd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/clock_change.h"

namespace pv {
namespace {

// Setting the clock would move the machine's clock, so the read that reports a set clock is
// played by a stand-in; the descriptor, its arming and the plain read are the kernel's.
struct TimerRead {
  std::string what;
  ssize_t result;
  int error;
  ClockTimerRead expected;
  bool armedAfter;
};

TEST(ClockChangeTest, ReadsTellTheSetClockAndRearmTheTimer) {
  const std::vector<TimerRead> reads = {
      {"clock set", -1, ECANCELED, ClockTimerRead::ClockSet, true},
      {"expired", 8, 0, ClockTimerRead::Quiet, true},
      {"nothing to read", -1, EAGAIN, ClockTimerRead::Quiet, false},
      {"broken descriptor", -1, EIO, ClockTimerRead::Failed, false},
  };
  for (const TimerRead& read : reads) {
    const UniqueFd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    ASSERT_TRUE(fd.ok());
    std::string error;
    const ClockTimerRead result = ReadClockTimer(fd.get(), error, [&](int, void*, size_t) {
      errno = read.error;
      return read.result;
    });
    EXPECT_EQ(result, read.expected) << read.what;
    EXPECT_EQ(error.empty(), read.expected != ClockTimerRead::Failed) << read.what << ": " << error;
    itimerspec armed{};
    ASSERT_EQ(::timerfd_gettime(fd.get(), &armed), 0);
    EXPECT_EQ(armed.it_value.tv_sec > 0, read.armedAfter) << read.what;
  }
  // Armed and unread, the real descriptor has nothing to say.
  const UniqueFd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
  std::string error;
  ASSERT_TRUE(ArmClockTimer(fd.get(), error)) << error;
  EXPECT_EQ(ReadClockTimer(fd.get(), error), ClockTimerRead::Quiet) << error;
}

}  // namespace
}  // namespace pv
