// DnsResolver against the rig's dnsmasq (tests/rig/dns/zone.conf): what a delivery cannot show.
#include "transport/dns.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <set>
#include <string>
#include <utility>

#include "rig_env.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class DnsRigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.ok()) << rig_.error(); }
  std::string Dns() const { return rig_.Str("RIG_DNS_SERVER"); }

  test::RigEnv rig_ = test::RigEnv::Load();
};

TEST_F(DnsRigTest, ServerListsFailuresAndTimeouts) {
  // A DNS server that never answers: a bound UDP socket nobody reads.
  const UniqueFd silentFd(socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in addr{AF_INET, 0, {htonl(0x7F00000D)}, {}};  // 127.0.0.13, any port
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(silentFd.get(), reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(getsockname(silentFd.get(), reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string silent = "127.0.0.13:" + std::to_string(ntohs(addr.sin_port));
  const std::string dead = rig_.Str("RIG_DNS_DEAD_SERVER");
  struct Case {
    std::string servers;
    const char* domain;
    DnsStatus status;
    std::string text;  // Ok: the whole text; TempFail: its start
  };
  // dnsmasq sends the 20 first: the resolver sorts, and the transcript shows it so.
  const std::string aTest = "MX a.test: 10 mx1.a.test, 20 mx2.a.test";
  const std::string aTemp = "MX a.test: temporary failure";
  const Case cases[] = {
      {Dns(), "a.test", DnsStatus::Ok, aTest},
      // The port is honoured: only dns-up on 10053 knows servfail.test.
      {rig_.Str("RIG_DNS_UPSTREAM"), "servfail.test", DnsStatus::Ok,
       "MX servfail.test: 10 mx1.a.test"},
      {dead + ":10053," + rig_.Str("RIG_DNS_HI_SERVER"), "a.test", DnsStatus::Ok, aTest},
      {silent + "," + Dns(), "a.test", DnsStatus::Ok, aTest},
      // None of these proves that the domain does not exist.
      {dead, "a.test", DnsStatus::TempFail, aTemp},
      {silent, "a.test", DnsStatus::TempFail, aTemp},
      {Dns(), "servfail.test", DnsStatus::TempFail, "MX servfail.test: temporary failure"},
  };
  const milliseconds timeout(2000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.servers + " " + c.domain);
    DnsResolver resolver(c.servers, timeout);
    ASSERT_EQ(resolver.initError(), "");
    const auto start = Clock::now();
    const MxAnswer answer = resolver.LookupMx(c.domain);
    EXPECT_LE(Clock::now() - start, timeout + milliseconds(250)) << answer.text;
    EXPECT_EQ(DnsStatusName(answer.status), DnsStatusName(c.status)) << answer.text;
    EXPECT_EQ(answer.text.substr(0, c.status == DnsStatus::Ok ? std::string::npos : c.text.size()),
              c.text);
  }
}

TEST_F(DnsRigTest, EqualPreferencesComeInBothOrders) {
  DnsResolver resolver(Dns(), milliseconds(3000));
  std::set<std::string> orders;
  for (int i = 0; i < 40; ++i) {
    const MxAnswer answer = resolver.LookupMx("d.test");
    ASSERT_EQ(answer.status, DnsStatus::Ok) << answer.text;
    std::string order;
    for (const MxHost& host : answer.hosts) order += host.name + " ";
    orders.insert(order);
  }
  EXPECT_EQ(orders, (std::set<std::string>{"mx1.a.test mx2.a.test ", "mx2.a.test mx1.a.test "}));
}

TEST_F(DnsRigTest, BadServerListIsAnInitErrorNotTheSystemServers) {
  // c-ares itself would take the last two (as 1.2.3.255 and port 0).
  for (const char* servers : {"dns.example.com", "127.0.0.10,bogus", "1.2.3", "127.0.0.10:0"}) {
    SCOPED_TRACE(servers);
    DnsResolver resolver(servers, milliseconds(1000));
    EXPECT_NE(resolver.initError(), "");
    const MxAnswer answer = resolver.LookupMx("a.test");
    EXPECT_EQ(answer.status, DnsStatus::TempFail);
    EXPECT_NE(answer.text.find(resolver.initError()), std::string::npos) << answer.text;
  }
  EXPECT_EQ(DnsResolver("", milliseconds(1000)).initError(), "");  // the system's servers
}

TEST_F(DnsRigTest, IpLiteralsAndLocalhostNeedNoServer) {
  // "": not a loopback name (only the name itself and names below it).
  const std::pair<const char*, const char*> cases[] = {
      {"[127.0.0.3]", "127.0.0.3"}, {"[IPv6:0:0::1]", "::1"}, {"LocalHost.", "127.0.0.1 ::1"},
      {"db.localhost", "127.0.0.1 ::1"}, {"notlocalhost", ""}};
  DnsResolver noChannel("bogus", milliseconds(1000));  // a bad list: nothing to ask
  for (const auto& [host, addresses] : cases) {
    const AddressAnswer answer = noChannel.LookupAddresses(host);
    std::string got;
    for (const auto& address : answer.addresses) got += (got.empty() ? "" : " ") + address;
    EXPECT_EQ(got, addresses) << host;
    EXPECT_EQ(answer.status == DnsStatus::Ok, *addresses != '\0') << answer.text;
  }
}

}  // namespace
}  // namespace pv
