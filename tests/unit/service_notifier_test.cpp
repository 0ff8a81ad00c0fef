#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/systemd_notifier.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// A notify socket not read for a while, READY and STOPPING kept and sent in order:
// service_test.cpp, against the real process.
TEST(ServiceNotifier, WithoutSystemdNothingIsSentOrKept) {
  test::TempDir dir;
  for (const std::string& name : {std::string(), dir / "nobody-listens.sock", std::string("x")}) {
    ServiceNotifier notifier(name);
    notifier.Ready("r");
    notifier.Stopping();
    EXPECT_FALSE(notifier.HasPending()) << name;
    EXPECT_TRUE(notifier.FlushPending(std::chrono::milliseconds(0))) << name;
  }
}

}  // namespace
}  // namespace pv
