#include <gtest/gtest.h>
#include <sys/timerfd.h>

#include "platform/clock_change.h"

namespace pv {
namespace {

// A set clock is played by a stand-in for read (a real one would move the machine's clock);
// the descriptor and its arming are the kernel's.
TEST(ClockChangeTest, ReadsTellTheSetClockAndRearmTheTimer) {
  struct Read { ssize_t result; int error; ClockTimerRead expected; bool armedAfter; };
  for (const Read& read : {Read{-1, ECANCELED, ClockTimerRead::ClockSet, true},
                           Read{8, 0, ClockTimerRead::Quiet, true},
                           Read{-1, EAGAIN, ClockTimerRead::Quiet, false},
                           Read{-1, EIO, ClockTimerRead::Failed, false}}) {
    const UniqueFd fd(::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC));
    const ReadCall standIn = [&](int, void*, size_t) { return errno = read.error, read.result; };
    std::string error;
    EXPECT_EQ(ReadClockTimer(fd.get(), error, standIn), read.expected) << read.error;
    itimerspec armed{};
    ASSERT_EQ(::timerfd_gettime(fd.get(), &armed), 0);
    EXPECT_EQ(armed.it_value.tv_sec > 0, read.armedAfter) << read.error;
  }
}

}  // namespace
}  // namespace pv
