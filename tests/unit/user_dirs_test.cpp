#include "platform/user_dirs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "unit/temp_dir.h"

namespace pv {
namespace {

TEST(UserDirs, SystemUidMaxFromLoginDefs) {
  struct Case { const char* text; uid_t expected; };
  const Case cases[] = {
      {"UID_MIN 1000\nSYS_UID_MAX\t499\n", 499},
      {"#SYS_UID_MAX 100\nSYS_UID_MAXX 100\nSYS_UID_MAX 12x\nSYS_UID_MAX\n", 999},
      {"SYS_UID_MAX 100\nSYS_UID_MAX 200\n", 200},  // the last line counts
  };
  for (const Case& c : cases) EXPECT_EQ(SystemUidMax(c.text), c.expected) << c.text;
}

TEST(UserDirs, ServicePathsOfASystemAccountAndTheHomeOverride) {
  if (!IsSystemAccount(::geteuid())) GTEST_SKIP() << "needs root or a system account";
  test::ScopedEnv home("POSTVANE_HOME", nullptr);
  EXPECT_EQ(ProgramDirectory(true), "/var/spool/postvane");
  EXPECT_EQ(LogDirectory(true), "/var/log/postvane/");
  EXPECT_EQ(LogDirectory(false), "");
  test::ScopedEnv moved("POSTVANE_HOME", "/srv/pv");
  EXPECT_EQ(ProgramDirectory(true), "/srv/pv");
  EXPECT_EQ(LogDirectory(true), "");
}

}  // namespace
}  // namespace pv
