#include "transport/wire_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/codepage.h"

namespace pv {
namespace {

std::vector<std::string> WireLines(const std::string& wire) {
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < wire.size();) {
    const auto end = wire.find("\r\n", pos);
    lines.push_back(wire.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// The text back from the wire: the final dot and the stuffing removed, breaks as given.
std::string Unstuffed(const std::string& wire) {
  std::string text;
  for (std::string line : WireLines(wire)) {
    if (line == ".") break;
    if (line.starts_with('.')) line.erase(0, 1);
    text += line + "\r\n";
  }
  return text;
}

TEST(WireData, LineEndsStuffingAndBytes) {
  const struct {
    std::string text, wire;
    bool eightBit;
  } cases[] = {
      {"", ".\r\n", false},
      {"a\nb\rc\r\n", "a\r\nb\r\nc\r\n.\r\n", false},
      {".a\n.b", "..a\r\n..b\r\n.\r\n", false},
      {"x\r\n.\r\n", "x\r\n..\r\n.\r\n", false},  // a terminator inside the data is stuffed
      {std::string("a\0b", 3), std::string("a\0b\r\n.\r\n", 8), false},
      // Each character back to its code page 1252 byte.
      {"S: \xC3\xA4\r\n\r\n\xE2\x82\xAC \xC3\xBF", "S: \xE4\r\n\r\n\x80 \xFF\r\n.\r\n", true},
  };
  for (const auto& c : cases) {
    const WireData wire = PrepareWireData(c.text);
    EXPECT_EQ(wire.bytes, c.wire) << c.text;
    EXPECT_EQ(wire.eightBit, c.eightBit) << c.text;
  }
  // Given apart, the header block and the body get the empty line between them.
  EXPECT_EQ(PrepareWireData("A: 1\r\nB: 2", ".x\r\n").bytes, "A: 1\r\nB: 2\r\n\r\n..x\r\n.\r\n");
  EXPECT_EQ(PrepareWireData("", "x").bytes, "\r\nx\r\n.\r\n");
}

TEST(WireData, LongLinesAreBrokenHeadersFoldedAtABlank) {
  std::string words;
  while (words.size() < 1500) words += "word" + std::to_string(words.size()) + " ";
  const struct {
    const char* name;
    std::string headers, body;
    std::vector<std::size_t> lengths;  // of the wire lines, the final dot left out
  } cases[] = {
      {"998 octets stay", "A: 1", std::string(998, 'a'), {4, 0, 998}},
      {"a 1200-octet body line", "A: 1", std::string(1200, 'a'), {4, 0, 998, 203}},
      {"a header without blanks", "X-Long:" + std::string(1193, 'b'), "x", {998, 203, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string wire = PrepareWireData(c.headers, c.body).bytes;
    std::vector<std::size_t> lengths;
    for (const std::string& line : WireLines(wire)) lengths.push_back(line.size());
    lengths.pop_back();
    EXPECT_EQ(lengths, c.lengths);
    // Breaking only inserts CR LF SPACE: taking them out gives the text back.
    std::string joined = Unstuffed(wire);
    for (auto at = joined.find("\r\n "); at != std::string::npos; at = joined.find("\r\n "))
      joined.erase(at, 3);
    EXPECT_EQ(joined, c.headers + "\r\n\r\n" + c.body + "\r\n");
  }
  // A header with blanks is folded before the last blank within the limit: unfolding (taking
  // out the CR LF before each blank) gives it back.
  const std::string header = "Subject: " + words;
  const std::string wire = PrepareWireData(header, "x").bytes;
  const std::vector<std::string> lines = WireLines(wire);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_LE(lines[0].size(), kMaxWireLine);
  EXPECT_GT(lines[0].size(), kMaxWireLine - 12);  // the last blank, not an earlier one
  EXPECT_EQ(lines[1][0], ' ');
  std::string unfolded = wire.substr(0, wire.find("\r\n\r\n"));
  for (auto at = unfolded.find("\r\n"); at != std::string::npos; at = unfolded.find("\r\n"))
    unfolded.erase(at, 2);
  EXPECT_EQ(unfolded, header);
}

// Quoted-printable back to bytes (soft breaks joined, =XX decoded).
std::string DecodeQp(const std::string& qp) {
  std::string out;
  for (std::size_t i = 0; i < qp.size(); ++i) {
    if (qp[i] != '=') {
      out += qp[i];
    } else if (qp.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else {
      out += static_cast<char>(std::stoi(qp.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST(WireData, EightBitTextPartsBecomeQuotedPrintable) {
  const std::string umlauts = "Gr\xC3\xBC\xC3\x9F" "e = sch\xC3\xB6n \r\n";  // "Grüße = schön "
  const std::string qp = "Gr=FC=DFe =3D sch=F6n=20\r\n";
  const std::string part8 = "Content-Type: text/plain; charset=windows-1252\r\n"
                            "Content-Transfer-Encoding: 8bit\r\n\r\n" + umlauts;
  const std::string partQp = "Content-Type: text/plain; charset=windows-1252\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + qp;
  const std::string base64 = "Content-Type: application/octet-stream\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n";
  const struct {
    const char* name;
    std::string headers, body, text;
  } cases[] = {
      {"a single part without an encoding", "Subject: x\r\nMIME-Version: 1.0", umlauts,
       "Subject: x\r\nMIME-Version: 1.0\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
           qp},
      {"8bit replaced, its folded line too",
       "Subject: x\r\nContent-Transfer-Encoding:\r\n 8bit\r\nX-After: 1", umlauts,
       "Subject: x\r\nX-After: 1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + qp},
      {"multipart, nested, by boundary",
       "Content-Type: multipart/mixed; boundary=\"out er\"",
       "preamble\r\n--out er\r\n" + part8 + "--out er\r\n"
       "Content-Type: multipart/alternative; boundary=in\r\n\r\n--in\r\n" + part8 +
           "\r\n--in--\r\n\r\n--out er\r\n" + base64 + "--out er--\r\nepilogue\r\n",
       "Content-Type: multipart/mixed; boundary=\"out er\"\r\n\r\npreamble\r\n--out er\r\n" +
           partQp + "--out er\r\nContent-Type: multipart/alternative; boundary=in\r\n\r\n--in\r\n" +
           partQp + "\r\n--in--\r\n\r\n--out er\r\n" + base64 + "--out er--\r\nepilogue\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SevenBitMail mail = ConvertToSevenBit(c.headers, c.body);
    EXPECT_EQ(mail.error, "");
    EXPECT_EQ(mail.text, c.text);
    EXPECT_FALSE(HasEightBitText(mail.text));
  }
}

TEST(WireData, QuotedPrintableKeepsLinesShortAndDecodesBack) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += i % 7 ? "\xC3\xA9" : "a=\t";
  body += "\r\nlast \r\nlone\rcr\r\n";
  const SevenBitMail mail = ConvertToSevenBit("Subject: x", body);
  ASSERT_EQ(mail.error, "");
  const std::string qp = mail.text.substr(mail.text.find("\r\n\r\n") + 4);
  for (const std::string& line : WireLines(qp)) EXPECT_LE(line.size(), 76u) << line;
  Bytes original;
  EncodeCodePage(body, kCodePage1252, original);
  EXPECT_EQ(DecodeQp(qp), original);

  // Straight to wire bytes, as the transport sends (wire_test.cpp shows it on a server).
  std::string error = "?";
  EXPECT_EQ(PrepareSevenBitWireData("Subject: x", body, error).bytes,
            PrepareWireData(mail.text).bytes);
  EXPECT_EQ(error, "");
  EXPECT_EQ(PrepareSevenBitWireData("Subject: \xC3\xA4", "x", error).bytes, "");
  EXPECT_EQ(error, "8-bit characters in a header");
}

TEST(WireData, ImpossibleConversionsSayWhy) {
  const struct {
    std::string headers, body, error;
  } cases[] = {
      {"Subject: Gr\xC3\xBC\xC3\x9F" "e", "x\r\n", "8-bit characters in a header"},
      {"Content-Type: message/rfc822", "Subject: \xC3\xA4\r\n\r\nx\r\n",
       "8-bit characters in a message/rfc822 part"},
      {"Content-Transfer-Encoding: binary", "\xC3\xA4\r\n",
       "8-bit characters in a part encoded binary"},
      {"Content-Type: multipart/mixed; boundary=b",
       "\xC3\xA4 preamble\r\n--b\r\n\r\nx\r\n--b--\r\n",
       "8-bit characters outside the parts of a multipart entity"},
  };
  for (const auto& c : cases) {
    const SevenBitMail mail = ConvertToSevenBit(c.headers, c.body);
    EXPECT_EQ(mail.error, c.error) << c.headers;
    EXPECT_EQ(mail.text, "");
  }
  // Multipart entities nested without end are refused, not followed down the stack.
  std::string nested;
  for (int i = 0; i < 5000; ++i)
    nested += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" +
              std::to_string(i + 1) + "\r\n\r\n";
  nested += "\xC3\xA4\r\n";
  EXPECT_EQ(ConvertToSevenBit("Content-Type: multipart/mixed; boundary=b0", nested).error,
            "multipart entities nested deeper than 64");
}

}  // namespace
}  // namespace pv
