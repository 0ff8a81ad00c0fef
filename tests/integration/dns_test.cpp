// DnsResolver against the rig's dnsmasq (tests/rig/dns/zone.conf).
#include "transport/dns.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "rig_env.h"

namespace pv {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::vector<std::string> Hosts(const MxAnswer& answer) {
  std::vector<std::string> hosts;
  for (const auto& host : answer.hosts) {
    hosts.push_back(std::to_string(host.preference) + " " + host.name);
  }
  return hosts;
}

// A DNS server that never answers: a bound UDP socket nobody reads.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.13", &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      address_ = "127.0.0.13:" + std::to_string(ntohs(addr.sin_port));
    }
  }
  ~SilentServer() { close(fd_); }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  const std::string& address() const { return address_; }

 private:
  int fd_ = -1;
  std::string address_;
};

class DnsRigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.ok()) << rig_.error(); }
  std::string Dns() const { return rig_.Str("RIG_DNS_SERVER"); }
  std::string DnsHi() const { return rig_.Str("RIG_DNS_HI_SERVER"); }

  test::RigEnv rig_ = test::RigEnv::Load();
};

struct MxCase {
  const char* domain;
  DnsStatus status;
  std::vector<std::string> hosts;  // in this order
  const char* text;
};

TEST_F(DnsRigTest, MxAnswersOnBothPorts) {
  const std::vector<MxCase> cases = {
      // dnsmasq sends the 20 first: the resolver must sort.
      {"a.test",
       DnsStatus::Ok,
       {"10 mx1.a.test", "20 mx2.a.test"},
       "MX a.test: 10 mx1.a.test, 20 mx2.a.test"},
      {"e.test",
       DnsStatus::Ok,
       {"5 noaddr.e.test", "50 mx1.a.test"},
       "MX e.test: 5 noaddr.e.test, 50 mx1.a.test"},
      {"b.test", DnsStatus::NoData, {}, "MX b.test: no MX record (NOERROR, no data)"},
      {"nx.test", DnsStatus::NotFound, {}, "MX nx.test: not found (NXDOMAIN)"},
      {"nullmx.test",
       DnsStatus::NullMx,
       {},
       "MX nullmx.test: null MX \"0 .\" (the domain accepts no mail)"},
      // c-ares 1.18 tries the next server after SERVFAIL and reports no rcode in the end.
      {"servfail.test", DnsStatus::TempFail, {}, nullptr},
      // REFUSED (no upstream) is no proof that the domain does not exist.
      {"example.com", DnsStatus::TempFail, {}, nullptr},
  };
  for (const std::string& server : {Dns(), DnsHi()}) {
    DnsResolver resolver(server, milliseconds(3000));
    ASSERT_EQ(resolver.initError(), "");
    for (const auto& c : cases) {
      SCOPED_TRACE(server + " " + c.domain);
      const MxAnswer answer = resolver.LookupMx(c.domain);
      EXPECT_EQ(DnsStatusName(answer.status), DnsStatusName(c.status)) << answer.text;
      EXPECT_EQ(Hosts(answer), c.hosts);
      if (c.text != nullptr) {
        EXPECT_EQ(answer.text, c.text);
      } else {
        EXPECT_EQ(answer.text.rfind("MX " + std::string(c.domain) + ": temporary failure", 0), 0u)
            << answer.text;
      }
    }
  }
}

TEST_F(DnsRigTest, EqualPreferencesComeInBothOrders) {
  DnsResolver resolver(Dns(), milliseconds(3000));
  std::set<std::vector<std::string>> orders;
  for (int i = 0; i < 40; ++i) {
    const MxAnswer answer = resolver.LookupMx("d.test");
    ASSERT_EQ(answer.status, DnsStatus::Ok) << answer.text;
    orders.insert(Hosts(answer));
  }
  const std::set<std::vector<std::string>> both = {{"10 mx1.a.test", "10 mx2.a.test"},
                                                   {"10 mx2.a.test", "10 mx1.a.test"}};
  EXPECT_EQ(orders, both);
}

struct ServerCase {
  const char* name;
  std::string servers;
  const char* domain;
  DnsStatus status;
};

TEST_F(DnsRigTest, ServerListsAndTimeouts) {
  SilentServer silent;
  ASSERT_NE(silent.address(), "");
  const milliseconds timeout(2000);
  const std::vector<ServerCase> cases = {
      {"port honoured: only dns-up on 10053 knows servfail.test", rig_.Str("RIG_DNS_UPSTREAM"),
       "servfail.test", DnsStatus::Ok},
      {"dead server first", rig_.Str("RIG_DNS_DEAD_SERVER") + ":10053," + DnsHi(), "a.test",
       DnsStatus::Ok},
      {"blanks and empty items", " , " + Dns() + " ,", "a.test", DnsStatus::Ok},
      {"silent server first", silent.address() + "," + Dns(), "a.test", DnsStatus::Ok},
      {"unreachable server", rig_.Str("RIG_DNS_DEAD_SERVER"), "a.test", DnsStatus::TempFail},
      {"silent server", silent.address(), "a.test", DnsStatus::TempFail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + c.servers);
    DnsResolver resolver(c.servers, timeout);
    ASSERT_EQ(resolver.initError(), "");
    const auto start = Clock::now();
    const MxAnswer answer = resolver.LookupMx(c.domain);
    const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    EXPECT_EQ(DnsStatusName(answer.status), DnsStatusName(c.status)) << answer.text;
    EXPECT_LE(elapsed.count(), timeout.count() + 250) << answer.text;
    if (c.status == DnsStatus::TempFail) {
      EXPECT_NE(answer.text.find("temporary failure"), std::string::npos) << answer.text;
    }
  }
}

TEST_F(DnsRigTest, BadServerListIsAnInitErrorNotTheSystemServers) {
  // c-ares itself would take the last four (as 127.0.0.1, 1.2.3.255, port 34463, port 0).
  for (const char* servers : {"dns.example.com", "127.0.0.10,bogus", "300.1.2.3", "127.0.0.10:",
                              "127.0.0.1.5", "1.2.3", "127.0.0.10:99999", "127.0.0.10:0"}) {
    SCOPED_TRACE(servers);
    DnsResolver resolver(servers, milliseconds(1000));
    EXPECT_NE(resolver.initError(), "");
    const MxAnswer answer = resolver.LookupMx("a.test");
    EXPECT_EQ(answer.status, DnsStatus::TempFail);
    EXPECT_NE(answer.text.find(resolver.initError()), std::string::npos) << answer.text;
  }
  EXPECT_EQ(DnsResolver("", milliseconds(1000)).initError(), "");  // the system's servers
}

struct AddressCase {
  const char* host;
  DnsStatus status;
  std::vector<std::string> addresses;
  const char* text;
};

TEST_F(DnsRigTest, Addresses) {
  const std::vector<AddressCase> cases = {
      {"mx1.a.test", DnsStatus::Ok, {"127.0.0.2"}, "A/AAAA mx1.a.test: 127.0.0.2"},
      {"submit.test", DnsStatus::Ok, {"127.0.0.7"}, nullptr},
      {"a.test", DnsStatus::NoData, {}, "A/AAAA a.test: no address record (NOERROR, no data)"},
      {"noaddr.e.test", DnsStatus::NotFound, {}, "A/AAAA noaddr.e.test: not found (NXDOMAIN)"},
      {"servfail.test", DnsStatus::TempFail, {}, nullptr},
  };
  DnsResolver resolver(Dns(), milliseconds(3000));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    const AddressAnswer answer = resolver.LookupAddresses(c.host);
    EXPECT_EQ(DnsStatusName(answer.status), DnsStatusName(c.status)) << answer.text;
    EXPECT_EQ(answer.addresses, c.addresses);
    if (c.text != nullptr) {
      EXPECT_EQ(answer.text, c.text);
    }
  }
}

TEST_F(DnsRigTest, IpLiteralsAndLocalhostNeedNoServer) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"127.0.0.2", {"127.0.0.2"}},
      {"[127.0.0.3]", {"127.0.0.3"}},
      {"::1", {"::1"}},
      {"[IPv6:0:0::1]", {"::1"}},
      {"localhost", {"127.0.0.1", "::1"}},
      {"LocalHost.", {"127.0.0.1", "::1"}},
      {"db.localhost", {"127.0.0.1", "::1"}},
  };
  // Nothing answers on the dead address, and a bad list leaves no channel at all.
  for (const char* servers : {"127.0.0.11", "bogus"}) {
    DnsResolver resolver(servers, milliseconds(1000));
    for (const auto& [host, addresses] : cases) {
      SCOPED_TRACE(std::string(servers) + " " + host);
      const AddressAnswer answer = resolver.LookupAddresses(host);
      EXPECT_EQ(answer.status, DnsStatus::Ok) << answer.text;
      EXPECT_EQ(answer.addresses, addresses);
    }
  }
  // Only the name itself and names below it.
  DnsResolver resolver(Dns(), milliseconds(1000));
  for (const char* host : {"notlocalhost", "localhost.test"}) {
    SCOPED_TRACE(host);
    EXPECT_NE(resolver.LookupAddresses(host).status, DnsStatus::Ok);
  }
}

}  // namespace
}  // namespace pv
