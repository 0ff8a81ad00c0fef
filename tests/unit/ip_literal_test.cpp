#include "support/ip_literal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pv {
namespace {

struct LiteralCase {
  std::string text;
  bool v4;
  bool v6;
  std::string normal;  // NormalIpText
};

TEST(IpLiteral, FamiliesAndNormalSpelling) {
  const std::vector<LiteralCase> cases = {
      {"192.0.2.1", true, false, "192.0.2.1"},
      {"2001:DB8::A", false, true, "2001:db8::a"},
      {"::ffff:192.0.2.1", false, true, "::ffff:192.0.2.1"},
      // What c-ares or inet_aton would still take is no address here.
      {"1.2.3", false, false, ""},
      {"256.0.0.1", false, false, ""},
      {"[::1]", false, false, ""},
      {"mx.example", false, false, ""},
  };
  for (const LiteralCase& c : cases) {
    EXPECT_EQ(IsIpv4Literal(c.text), c.v4) << c.text;
    EXPECT_EQ(IsIpv6Literal(c.text), c.v6) << c.text;
    EXPECT_EQ(IsIpLiteral(c.text), c.v4 || c.v6) << c.text;
    EXPECT_EQ(NormalIpText(c.text), c.normal) << c.text;
  }
}

TEST(IpLiteral, BytesInNetworkOrder) {
  EXPECT_EQ(ParseIpv4("127.0.0.2"), (Ipv4Bytes{127, 0, 0, 2}));
  const std::optional<Ipv6Bytes> v6 = ParseIpv6("fe80::1");
  ASSERT_TRUE(v6.has_value());
  EXPECT_EQ((*v6)[0], 0xFE);
  EXPECT_EQ((*v6)[1], 0x80);
  EXPECT_EQ((*v6)[15], 1);
  EXPECT_FALSE(ParseIpv4("::1").has_value());
}

TEST(IpLiteral, AddressLiteralsOfMailDomains) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"[192.0.2.1]", true},    {"[ipv6:::1]", true},        {"[2001:db8::1]", false},
      {"[IPv6:192.0.2.1]", false}, {"192.0.2.1", false},     {"[192.0.2.1", false},
  };
  for (const auto& [domain, ok] : cases) EXPECT_EQ(IsAddressLiteral(domain), ok) << domain;
}

}  // namespace
}  // namespace pv
