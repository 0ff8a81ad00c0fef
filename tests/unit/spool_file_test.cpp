#include <gtest/gtest.h>

#include "engine/spool_file.h"

namespace pv {
namespace {

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 12, 6, 12, 0, 0);

SpoolFile Parse(const std::string& text) {
  SpoolFile f;
  ParseSpoolText(text, kNow, f);
  return f;
}

TEST(SpoolFile, HeadersGoWhereTheyBelong) {
  const SpoolFile f = Parse(
      "From: a@x.test\r\nTo: b@y.test,\r\n\tc@z.test\r\nBcc: d@y.test\r\nSubject: Hi\r\n"
      "MIME-Version: 1.0\r\nX-pvx-Retry: 3\r\nX-PVX-SENDAFTER: 2026-12-24T10:00:00\r\n"
      "X-pvx-ReturnTo: r@x.test\r\nX-pvx-SuccessAddresses: b@y.test\r\n"
      "X-pvx-IsReturnMail: 2\r\nX-MimeOLE: x\r\nX-Unsent: 1\r\nX-Other: =?iso-8859-1?Q?gr=FC=DF?=\r\n"
      "\r\nbody\r\n.\r\n");
  EXPECT_EQ(f.From, "a@x.test");
  EXPECT_EQ(f.To, "b@y.test,\r\n\tc@z.test");
  EXPECT_EQ(f.Bcc, "d@y.test");
  EXPECT_EQ(f.RetryCount, 3);
  EXPECT_EQ(f.SendAfter, LocalDateTime::FromCivil(2026, 12, 24, 10, 0, 0));
  EXPECT_EQ(f.ReturnTo, "r@x.test");
  EXPECT_TRUE(f.IsReturnMail);
  EXPECT_EQ(f.Body(), "body\r\n.\r\n");
  EXPECT_EQ(f.SendHeaders,
            "From: a@x.test\r\nTo: b@y.test,\r\n\tc@z.test\r\nSubject: Hi\r\nMIME-Version: 1.0\r\n"
            "X-pvx-IsReturnMail: 1\r\nX-Other: =?iso-8859-1?Q?gr=FC=DF?=");
  EXPECT_EQ(f.FileHeaders,
            "From: a@x.test\r\nTo: b@y.test,\r\n\tc@z.test\r\nBcc: d@y.test\r\nSubject: Hi\r\n"
            "MIME-Version: 1.0\r\nX-pvx-ReturnTo: r@x.test\r\nX-pvx-IsReturnMail: 1\r\n"
            "X-Unsent: 1\r\nX-Other: =?iso-8859-1?Q?gr=FC=DF?=");
  // The served recipient is left out; the folding is not part of the list.
  EXPECT_EQ(RecipientsOf(f), "c@z.test, d@y.test");
}

TEST(SpoolFile, SendAfterAndOddShapes) {
  EXPECT_EQ(Parse("X-pvx-SendAfter: never\r\n\r\n").SendAfter, kNow);
  // A continuation line holding ":" starts a header of its own.
  const SpoolFile f = Parse("Subject: a\r\n at 10:00\r\n\r\nx");
  EXPECT_EQ(f.Subject, "a");
  // No empty line: header block and body are both the whole text.
  const SpoolFile g = Parse("Mime-Version: 1.0\r\nTo: t@x");
  EXPECT_EQ(g.MimeVersion, "1.0");
  EXPECT_EQ(g.Body(), "Mime-Version: 1.0\r\nTo: t@x");
  // A CR or LF of its own never breaks the header list that a rewrite writes back.
  const SpoolFile h = Parse("Subject: a\n\nb\r\nX-pvx-Retry: 2\r\nX-Other: c\r\r\n\r\nbody");
  EXPECT_EQ(h.Subject, "a  b");
  EXPECT_EQ(h.FileHeaders, "Subject: a  b\r\nX-Other: c");
}

TEST(SpoolFile, EncodingKeepsAddressesAndFolding) {
  EXPECT_EQ(EncodeAddressList("\"Jürgen Groß\" <j@x.test>, b@y.test"),
            "=?utf-8?B?SsO8cmdlbiBHcm/Dnw==?= <j@x.test>, b@y.test");
  EXPECT_EQ(EncodeAddressList("Jürgen <j@x.test>,\r\n\tb@y.test"),
            "=?utf-8?B?SsO8cmdlbg==?= <j@x.test>,\r\n\tb@y.test");
  // A comma inside the quoted name is part of it.
  EXPECT_EQ(EncodeAddressList("\"Groß, Jürgen\" <j@x.test>,b@y.test"),
            "=?utf-8?B?R3Jvw58sIErDvHJnZW4=?= <j@x.test>,b@y.test");
  EXPECT_EQ(EncodeUnstructured("Grüße\r\n\tplain"), "=?utf-8?B?R3LDvMOfZQ==?=\r\n\tplain");
  const SpoolFile f = Parse("Subject: =?iso-8859-1?Q?Gr=FC=DFe?=\r\n\r\n");
  EXPECT_EQ(f.Subject, "Grüße");
  EXPECT_EQ(f.SendHeaders, "Subject: =?utf-8?B?R3LDvMOfZQ==?=");
}

}  // namespace
TEST(SpoolFile, LfOnlyTextsGetCrLfMixedOnesStayAsTheyAre) {
  const struct { std::string in, out; } cases[] = {
      {"To: a@x\nSubject: s\n\nbody\n", "To: a@x\r\nSubject: s\r\n\r\nbody\r\n"},
      {"To: a@x\r\nSubject: s\n\nbody", "To: a@x\r\nSubject: s\n\nbody"},  // mixed
      {"lone\rCR\n", "lone\rCR\r\n"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    UseCrLfLineEnds(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

}  // namespace pv
