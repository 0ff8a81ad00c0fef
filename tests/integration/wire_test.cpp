// What reaches a server's mailbox: the headers as given, 8-bit text for servers without
// 8BITMIME, long lines, and the session kept after a failed STARTTLS handshake.
#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

#include "rig_env.h"
#include "transport/mail_transport.h"

namespace pv {
namespace {

using test::ReceivedMail;
using test::RigEnv;

class WireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    transport_.SetDnsServers(rig_.Str("RIG_DNS_SERVER"));
    TransportTimeouts timeouts;
    timeouts.connect = std::chrono::seconds(5);
    timeouts.reply = std::chrono::seconds(15);
    timeouts.finalReply = std::chrono::seconds(15);
    timeouts.dns = std::chrono::seconds(5);
    transport_.SetTimeouts(timeouts);
  }
  void TearDown() override { transport_.CloseAllSessions(); }

  // Sends headers + body (the subject carries a marker of its own) to `to`.
  bool Send(const std::string& to, const std::string& headers, const std::string& body) {
    static std::atomic<int> counter{0};
    marker_ = "pvwire-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const std::string text = "From: Sender <s@src.test>\r\nTo: " + to + "\r\nSubject: " + marker_ +
                             "\r\n" + headers + "\r\n" + body;
    transport_.ResetMail();
    transport_.LoadMail(text, "Sender <s@src.test>", to);
    return transport_.Send("client.src.test");
  }

  std::optional<ReceivedMail> Received(const char* maildirKey) {
    return test::WaitForMailContaining(rig_.Str(maildirKey), marker_);
  }

  RigEnv rig_;
  MailTransport transport_;
  std::string marker_;
};

TEST_F(WireTest, TwoMailsAfterAFailedStartTlsShareOnePlainSession) {
  ASSERT_TRUE(Send("ok@badtls.test", "", "first\r\n")) << transport_.GetResultProtocol();
  EXPECT_NE(transport_.GetResultProtocol().find("TLS handshake failed"), std::string::npos);
  const auto first = Received("RIG_BADTLS_MAILDIR");
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->Bool("tls"));

  ASSERT_TRUE(Send("ok@badtls.test", "", "second\r\n")) << transport_.GetResultProtocol();
  EXPECT_NE(transport_.GetResultProtocol().find("reusing the open session"), std::string::npos)
      << transport_.GetResultProtocol();
  const auto second = Received("RIG_BADTLS_MAILDIR");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->Int("connection"), first->Int("connection"));
}

TEST_F(WireTest, ControlHeadersGivenToTheTransportGoOut) {
  ASSERT_TRUE(Send("ok@a.test", "X-pvx-IsReturnMail: 0\r\nX-pvx-Foo: bar baz\r\n", "Hi.\r\n"))
      << transport_.GetResultProtocol();
  const auto mail = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_NE(mail->eml.find("\r\nX-pvx-IsReturnMail: 0\r\nX-pvx-Foo: bar baz\r\n"),
            std::string::npos)
      << mail->eml;
  EXPECT_EQ(mail->Str("mail_from"), "s@src.test");
}

}  // namespace
}  // namespace pv
