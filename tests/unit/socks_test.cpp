#include "transport/socks.h"

#include <gtest/gtest.h>

#include <string>

namespace pv {
namespace {

using namespace std::string_literals;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

TEST(SocksTest, Socks4ConnectRequest) {
  struct Case {
    const char* host;
    std::uint16_t port;
    std::string user;
    std::string bytes;  // empty: refused
    const char* error;
  };
  const Case cases[] = {
      {"127.0.0.2", 25, "", "\x04\x01\x00\x19\x7f\x00\x00\x02\x00"s, ""},
      {"10.1.2.3", 587, "rigsocks", "\x04\x01\x02\x4b\x0a\x01\x02\x03rigsocks\x00"s, ""},
      {"255.255.255.255", 65535, "", "\x04\x01\xff\xff\xff\xff\xff\xff\x00"s, ""},
      {"mx.example.org", 25, "", "", "SOCKS4 needs an IPv4 address (mx.example.org is not one)"},
      {"::1", 25, "", "", "SOCKS4 needs an IPv4 address (::1 is not one)"},
      {"127.1", 25, "", "", "SOCKS4 needs an IPv4 address (127.1 is not one)"},
      {"127.0.0.2", 25, "a\0b"s, "", "the SOCKS4 user id must not contain a NUL byte"},
  };
  for (const Case& c : cases) {
    const SocksRequest request = BuildSocks4Connect(c.host, c.port, c.user);
    EXPECT_EQ(request.bytes, c.bytes) << c.host;
    EXPECT_EQ(request.error, c.error) << c.host;
  }
}

TEST(SocksTest, Socks4Reply) {
  struct Case {
    std::string bytes;
    std::size_t need;
    const char* error;
  };
  const Case cases[] = {
      {"", 8, ""},
      {Bytes({0, 0x5A, 0, 25}), 8, ""},
      {Bytes({0, 0x5A, 0, 25, 127, 0, 0, 2}), 0, ""},
      {Bytes({0, 0x5B, 0, 0, 0, 0, 0, 0}), 0, "refused: request rejected or failed (code 0x5B)"},
      // A refusal is final as soon as its code is in, even if the proxy then just closes.
      {Bytes({0, 0x5C}), 0,
       "refused: request rejected because the proxy cannot reach the client's identd (code 0x5C)"},
      {Bytes({0, 0x5D}), 0,
       "refused: request rejected because identd reports a different user id (code 0x5D)"},
      {Bytes({0, 0x01}), 0, "refused: unknown reply code (code 0x01)"},
      {Bytes({5}), 0, "sent a malformed answer: reply version 5 instead of 0"},
  };
  for (const Case& c : cases) {
    const SocksAnswer answer = ParseSocks4Reply(c.bytes);
    EXPECT_EQ(answer.need, c.need) << testing::PrintToString(c.bytes);
    EXPECT_EQ(answer.error, c.error) << testing::PrintToString(c.bytes);
  }
}

TEST(SocksTest, Socks5GreetingOffersExactlyOneMethod) {
  EXPECT_EQ(BuildSocks5Greeting(false), Bytes({5, 1, 0}));
  EXPECT_EQ(BuildSocks5Greeting(true), Bytes({5, 1, 2}));
}

TEST(SocksTest, Socks5MethodReply) {
  struct Case {
    std::string bytes;
    bool withPassword;
    std::size_t need;
    const char* error;
  };
  const Case cases[] = {
      {"", false, 2, ""},
      {Bytes({5}), false, 2, ""},
      {Bytes({5, 0}), false, 0, ""},
      {Bytes({5, 2}), true, 0, ""},
      {Bytes({5, 0xFF}), false, 0,
       "refused: no acceptable authentication method (it may require a user name and password)"},
      {Bytes({5, 0xFF}), true, 0,
       "refused: no acceptable authentication method (user name and password are not "
       "accepted)"},
      {Bytes({5, 2}), false, 0, "sent a malformed answer: method 0x02, which was not offered"},
      {Bytes({5, 0}), true, 0, "sent a malformed answer: method 0x00, which was not offered"},
      {Bytes({4}), false, 0, "sent a malformed answer: version 4 instead of 5"},
      {Bytes({0, 0x5B}), false, 0, "sent a malformed answer: version 0 instead of 5"},
  };
  for (const Case& c : cases) {
    const SocksAnswer answer = ParseSocks5MethodReply(c.bytes, c.withPassword);
    EXPECT_EQ(answer.need, c.need) << testing::PrintToString(c.bytes);
    EXPECT_EQ(answer.error, c.error) << testing::PrintToString(c.bytes);
  }
}

TEST(SocksTest, Socks5AuthRequest) {
  const std::string max(255, 'u');
  struct Case {
    std::string user;
    std::string password;
    std::string bytes;
    const char* error;
  };
  const Case cases[] = {
      {"rigsocks", "rig-secret-1", "\x01\x08rigsocks\x0crig-secret-1"s, ""},
      {"u", "p", "\x01\x01u\x01p"s, ""},
      {max, max, "\x01\xff"s + max + "\xff"s + max, ""},
      {"", "pw", "", "the SOCKS5 user name must be 1 to 255 bytes long (it has 0)"},
      {max + "u", "pw", "", "the SOCKS5 user name must be 1 to 255 bytes long (it has 256)"},
      {"user", "", "", "the SOCKS5 password must be 1 to 255 bytes long"},
      {"user", max + "p", "", "the SOCKS5 password must be 1 to 255 bytes long"},
  };
  for (const Case& c : cases) {
    const SocksRequest request = BuildSocks5Auth(c.user, c.password);
    EXPECT_EQ(request.bytes, c.bytes) << c.user.size() << "/" << c.password.size();
    EXPECT_EQ(request.error, c.error) << c.user.size() << "/" << c.password.size();
  }
}

TEST(SocksTest, Socks5AuthReply) {
  struct Case {
    std::string bytes;
    std::size_t need;
    const char* error;
  };
  const Case cases[] = {
      {"", 2, ""},
      {Bytes({1}), 2, ""},
      {Bytes({1, 0}), 0, ""},
      {Bytes({5, 0}), 0, ""},
      {Bytes({1, 1}), 0, "rejected the user name or password (status 1)"},
      {Bytes({1, 0xFF}), 0, "rejected the user name or password (status 255)"},
      {Bytes({2, 0}), 0, "sent a malformed answer: authentication version 2 instead of 1"},
  };
  for (const Case& c : cases) {
    const SocksAnswer answer = ParseSocks5AuthReply(c.bytes);
    EXPECT_EQ(answer.need, c.need) << testing::PrintToString(c.bytes);
    EXPECT_EQ(answer.error, c.error) << testing::PrintToString(c.bytes);
  }
}

TEST(SocksTest, Socks5ConnectRequest) {
  const std::string longest(255, 'a');
  struct Case {
    std::string host;
    std::uint16_t port;
    std::string bytes;
    const char* error;
  };
  const Case cases[] = {
      {"127.0.0.2", 25, "\x05\x01\x00\x01\x7f\x00\x00\x02\x00\x19"s, ""},
      {"::1", 10025, "\x05\x01\x00\x04"s + std::string(15, '\0') + "\x01\x27\x29"s, ""},
      {"[2001:db8::5]", 25,
       "\x05\x01\x00\x04\x20\x01\x0d\xb8"s + std::string(11, '\0') + "\x05\x00\x19"s, ""},
      {"localhost", 25, "\x05\x01\x00\x03\x09localhost\x00\x19"s, ""},
      // Not a dotted quad: the proxy resolves it as a name.
      {"127.1", 25, "\x05\x01\x00\x03\x05" "127.1\x00\x19"s, ""},
      {longest, 1, "\x05\x01\x00\x03\xff"s + longest + "\x00\x01"s, ""},
      {longest + "a", 25, "", "a host name for a SOCKS5 proxy must be 1 to 255 bytes long"},
      {"", 25, "", "a host name for a SOCKS5 proxy must be 1 to 255 bytes long"},
      {"mx example", 25, "", "\"mx example\" is not a host name"},
      {"mx\r\n.org", 25, "", "\"mx\r\n.org\" is not a host name"},
  };
  for (const Case& c : cases) {
    const SocksRequest request = BuildSocks5Connect(c.host, c.port);
    EXPECT_EQ(request.bytes, c.bytes) << c.host;
    EXPECT_EQ(request.error, c.error) << c.host;
  }
}

TEST(SocksTest, Socks5ConnectReplySkipsEveryAddressType) {
  const std::string ipv4 = Bytes({5, 0, 0, 1, 127, 0, 0, 30, 0x9c, 0x40});
  const std::string ipv6 = Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 0, 25});
  const std::string domain = Bytes({5, 0, 0, 3, 9}) + "localhost" + Bytes({4, 0x38});
  struct Case {
    std::string reply;
    const char* bound;
  };
  const Case cases[] = {
      {ipv4, "127.0.0.30:40000"},
      {ipv6, "[::1]:25"},
      {domain, "localhost:1080"},
  };
  for (const Case& c : cases) {
    // Every proper prefix asks for more, never for more than the whole reply.
    for (std::size_t n = 0; n < c.reply.size(); ++n) {
      const SocksAnswer partial = ParseSocks5ConnectReply(c.reply.substr(0, n));
      EXPECT_GT(partial.need, n) << c.bound << " prefix " << n;
      EXPECT_LE(partial.need, c.reply.size()) << c.bound << " prefix " << n;
      EXPECT_EQ(partial.error, "") << c.bound << " prefix " << n;
    }
    const SocksAnswer answer = ParseSocks5ConnectReply(c.reply);
    EXPECT_TRUE(answer.ok()) << c.bound;
    EXPECT_EQ(answer.bound, c.bound);
  }
}

TEST(SocksTest, Socks5ConnectReplyCodes) {
  const std::pair<int, const char*> cases[] = {
      {1, "refused: general SOCKS server failure (REP 1)"},
      {2, "refused: connection not allowed by ruleset (REP 2)"},
      {3, "refused: network unreachable (REP 3)"},
      {4, "refused: host unreachable (REP 4)"},
      {5, "refused: connection refused (REP 5)"},
      {6, "refused: TTL expired (REP 6)"},
      {7, "refused: command not supported (REP 7)"},
      {8, "refused: address type not supported (REP 8)"},
      {9, "refused: unassigned reply code (REP 9)"},
  };
  for (const auto& [rep, text] : cases) {
    // Complete after two bytes: some proxies close right after a short refusal.
    const SocksAnswer answer = ParseSocks5ConnectReply(Bytes({5, rep}));
    EXPECT_TRUE(answer.complete()) << rep;
    EXPECT_EQ(answer.error, text);
  }
  EXPECT_EQ(ParseSocks5ConnectReply(Bytes({5, 0, 0, 2, 0})).error,
            "sent a malformed answer: address type 2");
  EXPECT_EQ(ParseSocks5ConnectReply(Bytes({4, 0})).error,
            "sent a malformed answer: version 4 instead of 5");
}

TEST(SocksTest, PlanRefusesBeforeContactingTheProxy) {
  struct Case {
    int type;
    const char* host;
    const char* user;
    const char* password;
    const char* error;
  };
  const Case cases[] = {
      {1, "127.0.0.2", "", "", ""},
      {1, "mx.example.org", "", "", "SOCKS4 needs an IPv4 address (mx.example.org is not one)"},
      {1, "::1", "", "", "SOCKS4 needs an IPv4 address (::1 is not one)"},
      {2, "mx.example.org", "", "", ""},
      {3, "::1", "rigsocks", "rig-secret-1", ""},
      {3, "127.0.0.2", "", "rig-secret-1", "the SOCKS5 user name must be 1 to 255 bytes long (it has 0)"},
      {3, "127.0.0.2", "rigsocks", "", "the SOCKS5 password must be 1 to 255 bytes long"},
      {7, "127.0.0.2", "", "", "unknown proxy type 7"},
  };
  for (const Case& c : cases) {
    const ProxySettings proxy{c.type, "127.0.0.20", 1080, c.user, c.password};
    const SocksPlan plan = PlanSocksHandshake(proxy, c.host, 25);
    EXPECT_EQ(plan.error, c.error) << c.type << " " << c.host;
    EXPECT_EQ(plan.connect.empty(), !plan.error.empty()) << c.type << " " << c.host;
    EXPECT_EQ(plan.auth.empty(), c.type != 3 || !plan.error.empty()) << c.type << " " << c.host;
    EXPECT_EQ(plan.error.find("rig-secret"), std::string::npos);
  }
}

}  // namespace
}  // namespace pv
