#include <gtest/gtest.h>

#include "engine/comma_list.h"
#include "engine/delivery.h"
#include "engine/server_address.h"

namespace pv {
namespace {

TEST(CommaList, AppendAndContains) {
  EXPECT_EQ(AppendListItem("a", ",", "b"), "a,b");
  EXPECT_EQ(AppendListItem("a,", ",", "b"), "a,b");
  EXPECT_EQ(AppendListItem("", ",", "b"), "b");
  EXPECT_TRUE(ListContains("a,B,c", ",", "B", CompareMode::Exact));
  EXPECT_TRUE(ListContains("a,B,c", ",", "b", CompareMode::IgnoreCase));
  EXPECT_FALSE(ListContains("ab,c", ",", "a", CompareMode::Exact));
}

TEST(CommaList, DuplicatesAndListedItems) {
  EXPECT_EQ(RemoveDuplicateItems("A@x,a@X,b@y", ","), "A@x,b@y");
  EXPECT_EQ(RemoveDuplicateItems("a, a,a", ","), "a, a");  // items are not trimmed
  EXPECT_EQ(RemoveListedItems("a@x,b@y,c@z", ",", "b@y,C@z", ","), "a@x,c@z");
  EXPECT_EQ(RemoveListedItems("a@x", ",", "a@x", ","), "");
}

TEST(CommaList, TextAroundSeparators) {
  EXPECT_EQ(TextBeforeSeparator("a:b;c", ";:", false, CompareMode::Exact), "a");
  EXPECT_EQ(TextAfterSeparator("a:b;c", ";:", false, CompareMode::Exact), "b;c");
  EXPECT_EQ(TextBeforeSeparator("aXYb", "xy", true, CompareMode::IgnoreCase), "a");
  EXPECT_EQ(TextAfterSeparator("aXYb", "xy", true, CompareMode::IgnoreCase), "b");
  EXPECT_EQ(TextAfterSeparator("aXYb", "xy", true, CompareMode::Exact), "aXYb");
  EXPECT_EQ(TextBeforeSeparator("plain", "", false, CompareMode::Exact), "plain");
}

struct AddressCase {
  std::string text;
  bool ok;
  std::string host;
  std::int32_t port;
};

TEST(ServerAddress, HostAndPort) {
  const std::vector<AddressCase> cases = {
      {"proxy.local:1081", true, "proxy.local", 1081},
      {"proxy.local", true, "proxy.local", 1080},
      {"proxy.local:0", true, "proxy.local", 1},
      {"proxy.local:x", true, "proxy.local", 1},
      {"", false, "", 1080},
      {"socks5://user:pw@10.0.0.1:1085/path?q=1", true, "10.0.0.1", 1085},
      {"[::1]:1090", true, "::1", 1090},
      {" host : 2000 ", true, "host", 2000},
  };
  for (const auto& c : cases) {
    ServerAddress a;
    EXPECT_EQ(ParseServerAddress(c.text, a, 1080), c.ok) << c.text;
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
  }
  ServerAddress a;
  ParseServerAddress("socks5://user:pw@10.0.0.1:1085/path?q=1", a, 1080);
  EXPECT_EQ(a.scheme, "socks5");
  EXPECT_EQ(a.userInfo, "user:pw");
  EXPECT_EQ(a.path, "path");
  EXPECT_EQ(a.query, "q=1");
}

TEST(Delivery, ServedItemsOfTransportEntries) {
  EXPECT_EQ(ServedItemsOf(std::string("a@x\t250 ok\0b@y\t250 2.0.0 queued", 31)), "a@x, b@y");
}

}  // namespace
}  // namespace pv
