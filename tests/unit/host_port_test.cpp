#include "support/host_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/server_address.h"
#include "transport/route_plan.h"

namespace pv {
namespace {

struct SplitCase {
  std::string text;
  ColonRule rule;
  std::string host;
  std::string port;
  bool bracketed;
  bool hasPort;
  bool malformed;
};

TEST(HostPort, SplitHostPort) {
  constexpr ColonRule kFirst = ColonRule::FirstColon;
  constexpr ColonRule kBare = ColonRule::BareIpv6;
  const std::vector<SplitCase> cases = {
      {"mx.example:25", kBare, "mx.example", "25", false, true, false},
      {"mx.example", kFirst, "mx.example", "", false, false, false},
      {" host : 2000 ", kFirst, " host ", " 2000 ", false, true, false},
      {"[::1]:1090", kFirst, "::1", "1090", true, true, false},
      {"[::1]", kBare, "::1", "", true, false, false},
      {"[::1]x:25", kBare, "::1", "", true, false, true},
      {"[::1", kBare, "[::1", "", false, false, true},
      {"::1", kBare, "::1", "", false, false, false},
      {"::1", kFirst, "", ":1", false, true, false},
  };
  for (const SplitCase& c : cases) {
    const HostPortParts parts = SplitHostPort(c.text, c.rule);
    const std::string trace = c.text + (c.rule == kFirst ? " (first colon)" : " (bare IPv6)");
    EXPECT_EQ(parts.host, c.host) << trace;
    EXPECT_EQ(parts.port, c.port) << trace;
    EXPECT_EQ(parts.bracketed, c.bracketed) << trace;
    EXPECT_EQ(parts.hasPort, c.hasPort) << trace;
    EXPECT_EQ(parts.malformed, c.malformed) << trace;
  }
}

TEST(HostPort, PortNumbersAndText) {
  const std::vector<std::pair<std::string, std::optional<std::uint16_t>>> ports = {
      {"65535", 65535}, {"00025", 25}, {"0", std::nullopt}, {"65536", std::nullopt},
      {"000025", std::nullopt}, {"+25", std::nullopt},
  };
  for (const auto& [text, port] : ports) EXPECT_EQ(ParsePortNumber(text), port) << text;
  EXPECT_EQ(HostPortText("127.0.0.2", 25), "127.0.0.2:25");
  EXPECT_EQ(HostPortText("::1", 25), "[::1]:25");
  EXPECT_EQ(HostPortText("[::1]", 25), "[::1]:25");
}

TEST(HostPort, RelayEndpoint) {
  struct Case {
    std::string host;
    RelaySecurityMode tls;
    std::string endpointHost;
    std::uint16_t port;
  };
  const std::vector<Case> cases = {
      {"relay.example", RelaySecurityMode::Auto, "relay.example", 25},
      {"relay.example", RelaySecurityMode::Tls, "relay.example", 465},
      {" relay.example : 587 ", RelaySecurityMode::StartTls, "relay.example", 587},
      {"fe80::1", RelaySecurityMode::Auto, "fe80::1", 25},  // a bare IPv6 address has no port
      {"relay.example:0", RelaySecurityMode::Tls, "relay.example", 465},
  };
  for (const Case& c : cases) {
    const Endpoint endpoint = RelayEndpoint({c.host, "", "", c.tls});
    EXPECT_EQ(endpoint.host, c.endpointHost) << c.host;
    EXPECT_EQ(endpoint.port, c.port) << c.host;
  }
}

struct AddressCase {
  std::string text;
  bool ok;
  std::string host;
  std::int32_t port;
};

TEST(HostPort, ServerAddress) {
  const std::vector<AddressCase> cases = {
      {"proxy.local:1081", true, "proxy.local", 1081},
      {"proxy.local", true, "proxy.local", 1080},
      {"proxy.local:0", true, "proxy.local", 1},
      {"", false, "", 1080},
      {"socks5://user:pw@10.0.0.1:1085/path?q=1", true, "10.0.0.1", 1085},
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

}  // namespace
}  // namespace pv
