// What reaches a server's mailbox: 8-bit text for servers with and without 8BITMIME, long
// lines, and the session kept after a failed STARTTLS handshake. (The headers as given:
// delivery_test.cpp and service_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string_view>
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

// Quoted-printable back to bytes (soft breaks joined, =XX decoded).
std::string DecodeQp(std::string_view qp) {
  std::string out;
  for (std::size_t i = 0; i < qp.size(); ++i) {
    if (qp[i] != '=') {
      out += qp[i];
    } else if (qp.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(std::string(qp.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST_F(WireTest, EightBitTextReachesAServerWithoutEightBitMimeAsQuotedPrintable) {
  // The text as read from a spool file: code page 1252 bytes as characters.
  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, 5 \xE2\x82\xAC = teuer \r\n" +
                           std::string(100, 'x') + "\r\n.dot\r\n";
  const std::string bytes = "Gr\xFC\xDF" "e aus K\xF6ln, 5 \x80 = teuer \r\n" +
                            std::string(100, 'x') + "\r\n.dot\r\n";
  const std::string part = "--b\r\nContent-Type: text/plain; charset=windows-1252\r\n\r\n" +
                           text + "--b--\r\n";
  ASSERT_TRUE(Send("ok@no8bit.test",
                   "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n", part))
      << transport_.GetResultProtocol();
  const auto mail = Received("RIG_NO8BIT_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_TRUE(std::none_of(mail->eml.begin(), mail->eml.end(),
                           [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
  const auto options = mail->Strings("mail_options");
  EXPECT_EQ(std::count(options.begin(), options.end(), "BODY=8BITMIME"), 0);
  const std::string marker = "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  const auto start = mail->eml.find(marker);
  ASSERT_NE(start, std::string::npos) << mail->eml;
  const auto end = mail->eml.find("\r\n--b--", start);
  const std::size_t from = start + marker.size();
  EXPECT_EQ(DecodeQp(std::string_view(mail->eml).substr(from, end - from)),
            bytes.substr(0, bytes.size() - 2));

  // The same mail goes as it is, with BODY=8BITMIME, to a server that offers 8BITMIME.
  ASSERT_TRUE(Send("ok@a.test", "", text)) << transport_.GetResultProtocol();
  const auto raw = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(raw);
  EXPECT_NE(raw->eml.find("\r\n\r\n" + bytes), std::string::npos);
  const auto rawOptions = raw->Strings("mail_options");
  EXPECT_EQ(std::count(rawOptions.begin(), rawOptions.end(), "BODY=8BITMIME"), 1);
}

TEST_F(WireTest, AnEightBitMailThatCannotBeConvertedFailsForGood) {
  EXPECT_FALSE(Send("ok@no8bit.test", "X-Note: sch\xC3\xB6n\r\n", "\xC3\xA4\r\n"));
  EXPECT_EQ(transport_.GetResultCondition(), kConditionRecipientPermanent);
  EXPECT_NE(transport_.GetResultMessage().find("ok@no8bit.test: 554 5.6.3 Conversion required"),
            std::string::npos)
      << transport_.GetResultMessage();
  EXPECT_NE(transport_.GetRefusedRecipients().find("ok@no8bit.test\t554 5.6.3"), std::string::npos);
  EXPECT_EQ(transport_.GetResultProtocol().find("C: MAIL FROM"), std::string::npos);
}

TEST_F(WireTest, LongLinesArriveBroken) {
  const std::string line(1200, 'a');
  const std::string header = "X-Long: " + std::string(600, 'h') + " " + std::string(600, 'i');
  ASSERT_TRUE(Send("ok@a.test", header + "\r\n", line + "\r\nend\r\n"))
      << transport_.GetResultProtocol();
  const auto mail = Received("RIG_MX1_MAILDIR");
  ASSERT_TRUE(mail);
  EXPECT_NE(mail->eml.find("\r\n" + std::string(998, 'a') + "\r\n " + std::string(202, 'a') +
                           "\r\nend\r\n"),
            std::string::npos);
  EXPECT_NE(mail->eml.find("X-Long: " + std::string(600, 'h') + "\r\n " + std::string(600, 'i') +
                           "\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace pv
