#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/desktop_session.h"

namespace pv {
namespace {

TEST(DesktopSession, XDisplayNames) {
  const struct {
    std::string name;
    bool valid;
    std::string host;
    int number;
  } cases[] = {
      {":0", true, "", 0},           {":91.0", true, "", 91},
      {"localhost:10.0", true, "localhost", 10},
      {"unix:3", true, "unix", 3},   {"[::1]:2", true, "::1", 2},
      {"", false, "", 0},            {"0", false, "", 0},
      {":", false, "", 0},           {":x", false, "", 0},
      {":1.", false, "", 0},         {":1x", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    XDisplayAddress address;
    ASSERT_EQ(ParseXDisplay(c.name, address), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.number, c.number);
  }
}

}  // namespace
}  // namespace pv
