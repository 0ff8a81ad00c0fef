// Delivery through the real loopback servers of the rig: DNS (MX), scripted SMTP servers with
// STARTTLS and AUTH, SOCKS proxies.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <unistd.h>

#include "rig_transport.h"

namespace pv {
namespace {

using test::ReceivedMail;
using test::RigEnv;

class DeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    // The rig's certificate is its own CA: verified TLS trusts it through OpenSSL's default paths.
    ::setenv("SSL_CERT_FILE", rig_.Str("RIG_TLS_CERT").c_str(), 1);
    test::UseRig(transport_, rig_);
  }
  void TearDown() override { transport_.CloseAllSessions(); }

  // A mail whose subject tells it from every other mail of the run.
  std::string Mail(const std::string& to) {
    static std::atomic<int> counter{0};
    marker_ = "pvtest-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    return "From: Sender <s@src.test>\r\nTo: " + to + "\r\nSubject: " + marker_ +
           "\r\nMIME-Version: 1.0\r\n\r\nHello.\r\n.dot line\r\n";
  }

  bool Send(const std::string& to) {
    transport_.ResetMail();
    transport_.LoadMail(Mail(to), "Sender <s@src.test>", to);
    return transport_.Send("client.src.test");
  }

  std::optional<ReceivedMail> Received(const char* maildirKey) {
    return test::WaitForMailContaining(rig_.Str(maildirKey), marker_);
  }

  void UseRelay(const std::string& relay) { transport_.SetRelayHost(relay); }

  void UseProxy(ProxyTypeCode type, const std::string& key, bool withLogin) {
    const test::Endpoint proxy = rig_.Address(key);
    transport_.SetProxyType(type);
    transport_.SetProxyHost(proxy.host);
    transport_.SetProxyPort(proxy.port);
    transport_.SetProxyUser(withLogin ? rig_.Str("RIG_SOCKS_USER") : "");
    transport_.SetProxyPassword(withLogin ? rig_.Str("RIG_SOCKS_PASS") : "");
  }

  RigEnv rig_;
  MailTransport transport_;
  std::string marker_;
};

TEST_F(DeliveryTest, DirectToTheFirstMxWithStartTls) {
  ASSERT_TRUE(Send("ok@a.test")) << transport_.GetResultProtocol();
  const auto mail = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_TRUE(mail->Bool("tls"));
  EXPECT_EQ(mail->Str("mail_from"), "s@src.test");
  EXPECT_EQ(mail->Str("helo"), "client.src.test");
  EXPECT_NE(mail->eml.find("\r\nHello.\r\n.dot line\r\n"), std::string::npos);
  EXPECT_EQ(transport_.GetServedRecipients().substr(0, 10), "ok@a.test\t");
  EXPECT_NE(transport_.GetResultProtocol().find("STARTTLS"), std::string::npos);
}

TEST_F(DeliveryTest, FallsBackToTheNextMxAndToTheImplicitMx) {
  ASSERT_TRUE(Send("ok@c.test")) << transport_.GetResultProtocol();  // MX 10 refuses connections
  ASSERT_TRUE(Received("RIG_MX2_MAILDIR"));
  EXPECT_NE(transport_.GetResultProtocol().find("127.0.0.4"), std::string::npos);

  ASSERT_TRUE(Send("ok@b.test")) << transport_.GetResultProtocol();  // no MX: its A record
  ASSERT_TRUE(Received("RIG_MX2_MAILDIR"));
}

TEST_F(DeliveryTest, EachRecipientHasItsOwnOutcome) {
  EXPECT_FALSE(Send("ok@a.test, defer-me@a.test,reject-me@a.test"));
  const auto mail = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->Strings("rcpt_tos"), std::vector<std::string>{"ok@a.test"});
  EXPECT_EQ(transport_.GetServedRecipients().find("defer"), std::string::npos);
  // Only the 550 is refused for good; the 451 may be tried again.
  EXPECT_EQ(transport_.GetRefusedRecipients().substr(0, 21), "reject-me@a.test\t550 ");
  EXPECT_EQ(transport_.GetRefusedRecipients().find("defer"), std::string::npos);
  const std::string message = transport_.GetResultMessage();
  EXPECT_NE(message.find("defer-me@a.test: 451"), std::string::npos) << message;
  EXPECT_NE(message.find("reject-me@a.test: 550"), std::string::npos) << message;
  EXPECT_EQ(message.find("ok@a.test"), std::string::npos) << message;
}

TEST_F(DeliveryTest, DnsFailuresAndInvalidItems) {
  EXPECT_FALSE(Send("x@nx.test"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionDnsPermanent);
  EXPECT_FALSE(Send("x@nullmx.test"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionDnsPermanent);
  EXPECT_NE(transport_.GetResultMessage().find("null MX"), std::string::npos);
  EXPECT_FALSE(Send("x@f.test"));  // every MX unreachable: temporary
  EXPECT_EQ(transport_.GetResultCondition(), kConditionConnection);
  // An item without a valid address fails alone; nothing of it reaches a command.
  EXPECT_FALSE(Send("ok@a.test,bad\r\nRCPT TO:<evil@a.test>"));
  const auto mail = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->Strings("rcpt_tos"), std::vector<std::string>{"ok@a.test"});
  EXPECT_EQ(transport_.GetResultProtocol().find("C: RCPT TO:<evil"), std::string::npos);
  EXPECT_NE(transport_.GetResultMessage().find("line break"), std::string::npos);
  const std::string refused = transport_.GetRefusedRecipients();
  EXPECT_EQ(refused.rfind("bad RCPT TO:<evil@a.test>\tinvalid address: line break", 0), 0u)
      << refused;
}

TEST_F(DeliveryTest, RelayTakesEveryDomainAndKeepsTheSessionOpen) {
  UseRelay(rig_.Str("RIG_MX2") + ":25");
  ASSERT_TRUE(Send("ok@a.test,ok@elsewhere.example")) << transport_.GetResultProtocol();
  const auto mail = Received("RIG_MX2_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->Strings("rcpt_tos").size(), 2u);
  ASSERT_TRUE(Send("ok@a.test")) << transport_.GetResultProtocol();
  EXPECT_NE(transport_.GetResultProtocol().find("reusing the open session"), std::string::npos);
  EXPECT_NE(transport_.GetResultProtocol().find("C: RSET"), std::string::npos);
  ASSERT_TRUE(Received("RIG_MX2_MAILDIR"));
}

struct ProxyCase {
  const char* name;
  ProxyTypeCode type;
  const char* proxyKey;
  bool login;
  const char* sourceKey;
  const char* upKey;
};

TEST_F(DeliveryTest, ThroughEverySocksProxy) {
  const std::vector<ProxyCase> cases = {
      {"SOCKS4", ProxySocks4, "RIG_SOCKS4", false, "RIG_SOCKS5_NOAUTH_SOURCE", nullptr},
      {"SOCKS5", ProxySocks5NoAuth, "RIG_SOCKS5_NOAUTH", false, "RIG_SOCKS5_NOAUTH_SOURCE",
       nullptr},
      {"SOCKS5 with password", ProxySocks5Auth, "RIG_SOCKS5_AUTH", true, "RIG_SOCKS5_AUTH_SOURCE",
       nullptr},
      {"microsocks", ProxySocks5Auth, "RIG_MICROSOCKS", true, "RIG_MICROSOCKS_SOURCE",
       "RIG_MICROSOCKS_UP"},
  };
  for (const auto& c : cases) {
    if (c.upKey != nullptr && !rig_.Flag(c.upKey)) continue;
    UseProxy(c.type, c.proxyKey, c.login);
    ASSERT_TRUE(Send("ok@a.test")) << c.name << "\n" << transport_.GetResultProtocol();
    const auto mail = Received("RIG_MX1_MAILDIR");
    ASSERT_TRUE(mail) << c.name;
    EXPECT_EQ(mail->Str("peer").rfind(rig_.Str(c.sourceKey) + ":", 0), 0u) << c.name;
    EXPECT_TRUE(mail->Bool("tls")) << c.name;
    EXPECT_EQ(transport_.GetResultProtocol().find(rig_.Str("RIG_SOCKS_PASS")), std::string::npos);
    transport_.CloseAllSessions();
  }
}

TEST_F(DeliveryTest, SocksProxyRefusalIsReportedWithTheProxysAnswer) {
  UseProxy(ProxySocks5Auth, "RIG_SOCKS5_AUTH", true);
  transport_.SetProxyPassword("wrong");
  EXPECT_FALSE(Send("ok@a.test"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionProxy);
  EXPECT_NE(transport_.GetResultMessage().find("SOCKS5"), std::string::npos)
      << transport_.GetResultMessage();
}

TEST_F(DeliveryTest, RelayWithLoginOverStartTlsAndImplicitTls) {
  const std::vector<std::pair<std::string, RelaySecurityMode>> cases = {
      {rig_.Str("RIG_RELAY_AUTH"), RelaySecurityMode::StartTls},
      {rig_.Str("RIG_RELAY_TLS"), RelaySecurityMode::Tls},
  };
  for (const auto& [relay, security] : cases) {
    UseRelay(relay);
    transport_.SetRelayLogin(rig_.Str("RIG_RELAY_USER"), rig_.Str("RIG_RELAY_PASS"), security);
    ASSERT_TRUE(Send("ok@a.test")) << relay << "\n" << transport_.GetResultProtocol();
    const auto mail = Received("RIG_RELAY_MAILDIR");
    ASSERT_TRUE(mail) << relay;
    EXPECT_EQ(mail->Str("auth_user"), rig_.Str("RIG_RELAY_USER"));
    EXPECT_TRUE(mail->Bool("tls"));
    const std::string protocol = transport_.GetResultProtocol();
    EXPECT_EQ(protocol.find(rig_.Str("RIG_RELAY_PASS")), std::string::npos);
    EXPECT_NE(protocol.find("AUTH PLAIN ****"), std::string::npos) << protocol;
    transport_.CloseAllSessions();
  }
}

TEST_F(DeliveryTest, RelayLoginFailuresAreTemporary) {
  UseRelay(rig_.Str("RIG_RELAY_AUTH"));
  transport_.SetRelayLogin(rig_.Str("RIG_RELAY_USER"), "wrong", RelaySecurityMode::StartTls);
  EXPECT_FALSE(Send("ok@a.test"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionAuth);
  // STARTTLS required from a server that does not offer it.
  UseRelay(rig_.Str("RIG_MX2") + ":25");
  transport_.SetRelayLogin("", "", RelaySecurityMode::StartTls);
  EXPECT_FALSE(Send("ok@a.test"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionTls);
}

}  // namespace
}  // namespace pv
