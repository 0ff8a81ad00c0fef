#include "transport/smtp_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pv {
namespace {

using namespace std::string_literals;

// Every reply in `bytes`, as "code|enhanced|line|line...", then "error: ..." if one came.
std::vector<std::string> ReadAll(SmtpReplyReader& reader, const std::string& bytes) {
  reader.Feed(bytes);
  std::vector<std::string> out;
  SmtpReply reply;
  std::string error;
  for (;;) {
    const auto status = reader.Next(reply, error);
    if (status == SmtpReplyReader::Status::NeedMore) return out;
    if (status == SmtpReplyReader::Status::Error) {
      out.push_back("error: " + error);
      return out;
    }
    std::string shown = std::to_string(reply.code) + "|" + reply.enhanced;
    for (const std::string& line : reply.lines) shown += "|" + line;
    out.push_back(shown);
  }
}

std::vector<std::string> ReadAll(const std::string& bytes) {
  SmtpReplyReader reader;
  return ReadAll(reader, bytes);
}

struct ReadCase {
  std::string bytes;
  std::vector<std::string> replies;
};

TEST(SmtpReplyReader, ReadsWellFormedReplies) {
  const std::vector<ReadCase> cases = {
      // smtp-sink ends its EHLO reply with a bare "250 "; a bare code ends a reply too.
      {"250-mx\r\n250 \r\n", {"250||mx|"}},
      {"250-a\n250 b\n", {"250||a|b"}},  // bare LF
      {"250 ok\r\n550 5.1.1 No such user\r\n", {"250||ok", "550|5.1.1|5.1.1 No such user"}},
      {"550 5.10.100 x\r\n", {"550|5.10.100|5.10.100 x"}},
      // Enhanced codes: the class must match, the groups be 1-3 digits, a blank follow.
      {"250 5.1.1 odd\r\n", {"250||5.1.1 odd"}},
      // Control characters and bytes that are not UTF-8 show as "?"; UTF-8 text stays.
      {"250 a\tb\x01" "c\x7f\r\n", {"250||a?b?c?"}},
      {"250 Gr\xC3\xBC\xC3\x9F" "e \xFF!\r\n", {"250||Gr\xC3\xBC\xC3\x9F" "e ?!"}},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(ReadAll(c.bytes), c.replies) << c.bytes;
}

TEST(SmtpReplyReader, RejectsMalformedReplies) {
  const std::string longText(SmtpReplyReader::kMaxLineLength - 4, 'x');  // "250 " before it
  std::string endless;
  while (endless.size() <= SmtpReplyReader::kMaxReplyLength)
    endless += "250-" + std::string(1000, 'x') + "\r\n";
  const std::vector<ReadCase> cases = {
      {"abc\r\n", {"error: malformed reply line \"abc\""}},
      {"250x\r\n", {"error: malformed reply line \"250x\""}},
      {"250-a\r\n550 b\r\n", {"error: reply lines with different codes (250 and 550)"}},
      // Good replies before the bad line still come out.
      {"250 ok\r\nxyz\r\n", {"250||ok", "error: malformed reply line \"xyz\""}},
      {"250 " + longText + "\r\n", {"250||" + longText}},  // exactly the limit
      {"250 " + longText + "x\r\n", {"error: reply line longer than 2048 bytes"}},
      // A server that never ends its line or its reply must not make the reader wait for ever.
      {"250 " + std::string(3000, 'x'), {"error: reply line longer than 2048 bytes"}},
      {endless, {"error: reply longer than 65536 bytes"}},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(ReadAll(c.bytes), c.replies) << c.bytes.substr(0, 80);
}

TEST(SmtpReplyReader, StaysFailedUntilCleared) {
  SmtpReplyReader reader;
  ASSERT_EQ(ReadAll(reader, "garbage\r\n").size(), 1u);
  EXPECT_EQ(ReadAll(reader, "250 ok\r\n"),
            std::vector<std::string>{"error: malformed reply line \"garbage\""});
  reader.Clear();
  EXPECT_EQ(ReadAll(reader, "250 ok\r\n"), std::vector<std::string>{"250||ok"});
}

TEST(SmtpReplyReader, SameRepliesWhenBytesTrickleIn) {
  const std::string stream = "220-mx\r\n220 hi\r\n250-a\n250 b\r\n354\r\n";
  SmtpReplyReader reader;
  std::vector<std::string> replies;
  std::vector<std::string> raw;
  for (char c : stream) {
    reader.Feed(std::string(1, c));
    SmtpReply reply;
    std::string error;
    while (reader.Next(reply, error, &raw) == SmtpReplyReader::Status::Reply)
      replies.push_back(reply.OneLine());
    if (c != '\n') {
      EXPECT_TRUE(reader.HasPendingBytes());
    }
  }
  EXPECT_FALSE(reader.HasPendingBytes());
  EXPECT_EQ(replies, (std::vector<std::string>{"220 mx hi", "250 a b", "354"}));
  EXPECT_EQ(raw, (std::vector<std::string>{"220-mx", "220 hi", "250-a", "250 b", "354"}));
}

// The capabilities as one text, for compact expectations.
std::string Describe(const SmtpCapabilities& caps) {
  std::string out;
  if (caps.pipelining) out += "PIPELINING ";
  if (caps.startTls) out += "STARTTLS ";
  if (caps.eightBitMime) out += "8BITMIME ";
  if (caps.enhancedStatusCodes) out += "ENHANCEDSTATUSCODES ";
  if (caps.smtpUtf8) out += "SMTPUTF8 ";
  if (caps.size) out += "SIZE=" + std::to_string(*caps.size) + " ";
  for (const std::string& mechanism : caps.authMechanisms) out += "AUTH:" + mechanism + " ";
  return out;
}

TEST(SmtpCapabilities, ParsesTheEhloKeywords) {
  struct Case {
    std::vector<std::string> lines;
    std::string caps;
  };
  const std::vector<Case> cases = {
      {{"mx.example greets you", "PIPELINING", "SIZE 10240000", "STARTTLS", "AUTH PLAIN LOGIN",
        "8BITMIME", "ENHANCEDSTATUSCODES", "SMTPUTF8", ""},
       "PIPELINING STARTTLS 8BITMIME ENHANCEDSTATUSCODES SMTPUTF8 SIZE=10240000 AUTH:LOGIN "
       "AUTH:PLAIN "},
      // The first line is the server's name, never a keyword.
      {{"PIPELINING"}, ""},
      {{"mx", "AUTH=LOGIN PLAIN", "AUTH CRAM-MD5", "AUTH=", "AUTH"},
       "AUTH:CRAM-MD5 AUTH:LOGIN AUTH:PLAIN "},
      {{"mx", "SIZE 99999999999999999999999"}, "SIZE=0 "},
      {{"mx", "  AUTH   PLAIN  ", "", "X-EXPS GSSAPI", "STARTTLSX", "8BITMIMEX", "DSN"},
       "AUTH:PLAIN "},
  };
  for (const Case& c : cases) {
    const SmtpReply reply{250, "", c.lines};
    EXPECT_EQ(Describe(SmtpCapabilities::FromEhloReply(reply)), c.caps) << reply.OneLine();
  }
}

}  // namespace
}  // namespace pv
