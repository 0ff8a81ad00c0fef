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

TEST(SocksTest, Requests) {
  const std::string max(255, 'a');
  const std::string v6 = std::string(15, '\0') + "\x01"s;
  struct Case {
    SocksRequest request;
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {BuildSocks4Connect("10.1.2.3", 587, "rig"), "\x04\x01\x02\x4b\x0a\x01\x02\x03rig\x00"s, ""},
      {BuildSocks4Connect("127.0.0.2", 25, "a\0b"s), "",
       "the SOCKS4 user id must not contain a NUL byte"},
      {BuildSocks5Auth(max, max), "\x01\xff"s + max + "\xff"s + max, ""},
      {BuildSocks5Auth(max + "u", "pw"), "",
       "the SOCKS5 user name must be 1 to 255 bytes long (it has 256)"},
      {BuildSocks5Connect("::1", 10025), "\x05\x01\x00\x04"s + v6 + "\x27\x29"s, ""},
      // Not a dotted quad: the proxy resolves it as a name.
      {BuildSocks5Connect("127.1", 25), "\x05\x01\x00\x03\x05" "127.1\x00\x19"s, ""},
      {BuildSocks5Connect(max + "a", 25), "",
       "a host name for a SOCKS5 proxy must be 1 to 255 bytes long"},
      {BuildSocks5Connect("mx\r\n.org", 25), "", "\"mx\r\n.org\" is not a host name"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.request.bytes, c.bytes) << c.error;
    EXPECT_EQ(c.request.error, c.error) << testing::PrintToString(c.bytes);
  }
}

TEST(SocksTest, Answers) {
  using Parse = SocksAnswer (*)(std::string_view);
  const Parse socks4 = ParseSocks4Reply;
  const Parse methodNone = [](std::string_view b) { return ParseSocks5MethodReply(b, false); };
  const Parse methodPassword = [](std::string_view b) { return ParseSocks5MethodReply(b, true); };
  const Parse auth = ParseSocks5AuthReply;
  const Parse connect = ParseSocks5ConnectReply;
  struct Case {
    Parse parse;
    std::string bytes;
    std::size_t need;  // 0: complete
    std::string error;
  };
  const Case cases[] = {
      {socks4, "", 8, ""},
      {socks4, Bytes({0, 0x5A, 0, 25, 127, 0, 0, 2}), 0, ""},
      // A refusal is final as soon as its code is in: some proxies close right after it.
      {socks4, Bytes({0, 0x5C}), 0,
       "refused: request rejected because the proxy cannot reach the client's identd (code 0x5C)"},
      {socks4, Bytes({5}), 0,
       "sent a malformed answer: reply version 5 instead of 0 (a SOCKS5-only proxy?)"},
      {methodNone, Bytes({5, 0xFF}), 0,
       "refused: no acceptable authentication method (it may require a user name and password)"},
      {methodPassword, Bytes({5, 0xFF}), 0,
       "refused: no acceptable authentication method (user name and password are not accepted)"},
      {methodNone, Bytes({5, 2}), 0, "sent a malformed answer: method 0x02, which was not offered"},
      {auth, Bytes({5, 0}), 0, ""},  // some proxies put the SOCKS version there
      {auth, Bytes({1, 1}), 0, "rejected the user name or password (status 1)"},
      {connect, Bytes({5, 1}), 0, "refused: general SOCKS server failure (REP 1)"},
  };
  for (const Case& c : cases) {
    const SocksAnswer answer = c.parse(c.bytes);
    EXPECT_EQ(answer.need, c.need) << testing::PrintToString(c.bytes);
    EXPECT_EQ(answer.error, c.error) << testing::PrintToString(c.bytes);
  }
}

TEST(SocksTest, ConnectReplySkipsEveryAddressType) {
  struct Case {
    std::string reply;
    const char* bound;
  };
  const Case cases[] = {
      {Bytes({5, 0, 0, 1, 127, 0, 0, 30, 0x9c, 0x40}), "127.0.0.30:40000"},
      {Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 0, 25}), "[::1]:25"},
      {Bytes({5, 0, 0, 3, 9}) + "localhost" + Bytes({4, 0x38}), "localhost:1080"},
      {Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}), ""},  // left unset by the proxy
  };
  for (const Case& c : cases) {
    // Every proper prefix asks for more, but never for a byte beyond the reply.
    for (std::size_t n = 0; n < c.reply.size(); ++n) {
      const SocksAnswer partial = ParseSocks5ConnectReply(c.reply.substr(0, n));
      EXPECT_GT(partial.need, n) << c.bound << " prefix " << n;
      EXPECT_LE(partial.need, c.reply.size()) << c.bound << " prefix " << n;
    }
    const SocksAnswer answer = ParseSocks5ConnectReply(c.reply);
    EXPECT_TRUE(answer.ok()) << c.bound;
    EXPECT_EQ(answer.bound, c.bound);
  }
}

}  // namespace
}  // namespace pv
