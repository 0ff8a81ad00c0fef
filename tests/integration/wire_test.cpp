// What reaches a server's mailbox: 8-bit text for servers with and without 8BITMIME, and the
// session kept after a failed STARTTLS handshake. (The headers as given: service_test.cpp;
// long lines: wire_data_test.cpp; a mail that cannot be converted: smtp_session_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <unistd.h>

#include "rig_transport.h"

namespace pv {
namespace {

using test::ReceivedMail;
using test::RigEnv;

class WireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    test::UseRig(transport_, rig_);
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

// The conversion itself: wire_data_test.cpp; here the transport picks it by the server's offer.
TEST_F(WireTest, EightBitTextGoesQuotedPrintableOrRawByTheServersOffer) {
  // The text as read from a spool file: code page 1252 bytes as characters.
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln\r\n";
  const std::string part = "--b\r\nContent-Type: text/plain; charset=windows-1252\r\n\r\n" +
                           text + "--b--\r\n";
  ASSERT_TRUE(Send("ok@no8bit.test",
                   "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n", part))
      << transport_.GetResultProtocol();
  const auto mail = Received("RIG_NO8BIT_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_TRUE(std::none_of(mail->eml.begin(), mail->eml.end(),
                           [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
  EXPECT_NE(mail->eml.find("quoted-printable\r\n\r\nGr=FC=DFe aus K=F6ln\r\n--b--"),
            std::string::npos) << mail->eml;
  const auto options = mail->Strings("mail_options");
  EXPECT_EQ(std::count(options.begin(), options.end(), "BODY=8BITMIME"), 0);

  ASSERT_TRUE(Send("ok@a.test", "", text)) << transport_.GetResultProtocol();
  const auto raw = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->eml.find("\r\n\r\nGr\xFC\xDF" "e aus K\xF6ln\r\n"), std::string::npos);
  const auto rawOptions = raw->Strings("mail_options");
  EXPECT_EQ(std::count(rawOptions.begin(), rawOptions.end(), "BODY=8BITMIME"), 1);
}

}  // namespace
}  // namespace pv
