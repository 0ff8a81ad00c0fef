#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "scripting/sendmail/sendmail_message.h"

namespace pv {
namespace {

// The headers as "Name=value|" each, folds shown as they are kept.
std::string Shown(const SendmailMessage& m) {
  std::string out;
  for (const HeaderField& h : m.headers) out += h.name + "=" + h.value + "|";
  return out;
}

SendmailInput Read(const std::string& input, bool dotIsData) {
  std::istringstream in(input);
  return ReadSendmailMessage(in, dotIsData);
}

struct ReadCase {
  std::string input;
  bool dotIsData;
  std::string headers;
  std::string body;
};

TEST(SendmailMessage, LinesDotsAndTheHeaderBlock) {
  const std::vector<ReadCase> cases = {
      {"To: a\nSubject: s\n\nline 1\nline 2\n", false, "To= a|Subject= s|", "line 1\r\nline 2\r\n"},
      {"To: a\r\n\r\nline 1\r\nline 2\r\n", false, "To= a|", "line 1\r\nline 2\r\n"},
      // A lone CR inside a line is no line end.
      {"To: a\n\nx\ry\n", false, "To= a|", "x\ry\r\n"},
      // Without -i a line "." ends the mail; nothing after it is taken.
      {"To: a\n\nbody\n.\nafter\n", false, "To= a|", "body\r\n"},
      // With -i it is data; ".." and ". " are data either way, left as they are.
      {"To: a\n\nbody\n.\nafter\n", true, "To= a|", "body\r\n.\r\nafter\r\n"},
      {"To: a\n\n..\n. \n", false, "To= a|", "..\r\n. \r\n"},
      // Folding is kept; a fold is CR LF and the line as it stands.
      {"Subject: one\n\ttwo\n  three\nTo: a\n\nb\n", false, "Subject= one\r\n\ttwo\r\n  three|To= a|",
       "b\r\n"},
      // No headers: all is body. A line that is no header ends the header block.
      {"hello world\nTo: a\n", false, "", "hello world\r\nTo: a\r\n"},
      {"To: a\nnot a header\nmore\n", false, "To= a|", "not a header\r\nmore\r\n"},
      {"To: a\n: no name\n", false, "To= a|", ": no name\r\n"},
      // An mbox separator first is dropped.
      {"From me@x.test Mon Dec  7 10:00:00 2026\nTo: a\n\nb\n", false, "To= a|", "b\r\n"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.input);
    const SendmailInput r = Read(c.input, c.dotIsData);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(Shown(r.message), c.headers);
    EXPECT_EQ(r.message.body, c.body);
  }
}

TEST(SendmailMessage, RefusesNulAndAnOversizedHeaderBlock) {
  EXPECT_EQ(Read(std::string("To: a\n\nx\0y\n", 12), true).error, "line 3 holds a NUL byte");

  const std::string line = "X-Long: " + std::string(1000, 'a') + "\n";
  std::string big;
  while (big.size() < kMaxSendmailHeaderBlock) big += line;
  EXPECT_NE(Read(big + "\nbody\n", true).error.find("header block is larger"), std::string::npos);
  // The body has no bound: the same text after the empty line is taken.
  const SendmailInput body = Read("To: a\n\n" + big, true);
  ASSERT_TRUE(body.ok());
  EXPECT_GT(body.message.body.size(), kMaxSendmailHeaderBlock);
}

}  // namespace
}  // namespace pv
