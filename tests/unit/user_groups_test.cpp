#include <gtest/gtest.h>

#include <grp.h>

#include "platform/user_groups.h"

namespace pv {
namespace {

// Against the system's user database: root and its primary group exist on every system.
TEST(UserGroups, MembershipByThePasswdEntry) {
  const group* rootGroup = ::getgrgid(0);
  ASSERT_NE(rootGroup, nullptr);
  const struct {
    uid_t uid;
    std::string group;
    bool member;
  } cases[] = {
      {0, rootGroup->gr_name, true},  // the primary group counts
      {0, "no-such-group-pv", false},
      {static_cast<uid_t>(-2), rootGroup->gr_name, false},  // no passwd entry
  };
  for (const auto& c : cases)
    EXPECT_EQ(UserInGroup(c.uid, c.group), c.member) << c.uid << " " << c.group;
}

}  // namespace
}  // namespace pv
