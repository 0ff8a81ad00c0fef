#include <gtest/gtest.h>

#include "support/base64.h"
#include "support/codepage.h"
#include "support/durable_write.h"
#include "support/mime_words.h"
#include "transport/mail_composer.h"
#include "transport/recipients.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

const LocalDateTime kWhen = LocalDateTime::FromCivil(2024, 5, 17, 14, 30, 5);

// A message (or a part) taken apart as its reader would.
struct Message {
  std::vector<std::string> lines;  // the physical header lines
  std::string body;

  explicit Message(const std::string& bytes) {
    const std::size_t end = bytes.find("\r\n\r\n");
    body = end == std::string::npos ? "" : bytes.substr(end + 4);
    const std::string header = bytes.substr(0, end);
    for (std::size_t start = 0, next = 0; next != std::string::npos; start = next + 2) {
      next = header.find("\r\n", start);
      lines.push_back(header.substr(start, next - start));
    }
  }
  // The value after "Name:" with its continuation lines, CR LF removed; "?" when missing.
  std::string Header(const std::string& name) const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (!StartsWithNoCase(lines[i], name + ":")) continue;
      std::string value = lines[i].substr(name.size() + 1);
      while (i + 1 < lines.size() && (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t'))
        value += lines[++i];
      return std::string(Trim(value, " "));
    }
    return "?";
  }
  std::vector<Message> Parts() const {
    const std::string type = Header("Content-Type");
    const std::size_t at = type.find("boundary=\"") + 10;
    const std::string delimiter = "\r\n--" + type.substr(at, type.find('"', at) - at);
    std::vector<Message> parts;
    for (std::size_t pos = body.find(delimiter); body.compare(pos + delimiter.size(), 2, "--");) {
      const std::size_t start = pos + delimiter.size() + 2;
      pos = body.find(delimiter, start);
      parts.emplace_back(body.substr(start, pos - start));
    }
    return parts;
  }
  std::string Decoded() const {
    Bytes bytes;
    EXPECT_TRUE(Base64Decode(body, bytes));
    return bytes;
  }
};

Message Composed(const MailComposer& composer) {
  Bytes bytes;
  EncodeCodePage(composer.Compose(kWhen), kCodePage1252, bytes);
  return Message(bytes);
}

TEST(MailComposer, PlainMailHasTheStandardHeaders) {
  MailComposer composer;
  ASSERT_TRUE(composer.NewMail("Hello", "Postvane <pv@Host.example>", "", "line1\nline2\rline3"));
  const Message message = Composed(composer);
  EXPECT_EQ(message.lines.front(), "Date: " + FormatMailDate(kWhen, LocalUtcOffsetMinutes(kWhen)));
  EXPECT_EQ(message.Header("From"), "Postvane <pv@Host.example>");
  EXPECT_EQ(message.Header("To"), "?");  // no recipient, no header; the caller decides
  EXPECT_EQ(message.Header("Subject"), "Hello");
  EXPECT_TRUE(message.Header("Message-ID").ends_with("@host.example>"));
  EXPECT_EQ(message.body, "line1\r\nline2\r\nline3\r\n");

  MailComposer other;
  ASSERT_TRUE(other.NewMail("Hello", "", "a@b.example", "x"));
  EXPECT_TRUE(Composed(other).Header("Message-ID").ends_with("@postvane.localdomain>"));
  EXPECT_NE(Composed(other).Header("Message-ID"), message.Header("Message-ID"));
}

TEST(MailComposer, BodyTransferEncodingFitsTheBody) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain text", "7bit"},
      {"Grüße", "8bit"},
      {std::string(998, 'x') + "\r\nnext", "7bit"},
      {std::string(999, 'x'), "base64"},
  };
  for (const auto& [body, encoding] : cases) {
    MailComposer composer;
    ASSERT_TRUE(composer.NewMail("s", "a@b.example", "c@d.example", body));
    const Message message = Composed(composer);
    EXPECT_EQ(message.Header("Content-Transfer-Encoding"), encoding);
    EXPECT_EQ(encoding == "base64" ? message.Decoded() : message.body, body + "\r\n");
  }
}

TEST(MailComposer, NamesAreEncodedAddressesStayReadable) {
  MailComposer composer;
  ASSERT_TRUE(composer.NewMail("Grüße, Zoë", "Jörg Müller <j@x.example>",
                               "\"Doe, John\" <d@x.example>,Zoë <z@y.example>", "b"));
  const Message message = Composed(composer);
  EXPECT_EQ(DecodeEncodedWords(message.Header("Subject")), "Grüße, Zoë");
  EXPECT_TRUE(message.Header("From").ends_with(" <j@x.example>"));
  EXPECT_EQ(DecodeEncodedWords(message.Header("From")), "Jörg Müller <j@x.example>");
  const std::vector<RecipientGroup> to = GroupRecipientItems(message.Header("To"));
  ASSERT_EQ(to.size(), 2u);
  EXPECT_EQ(to[0].displayName + "|" + to[0].address, "Doe, John|d@x.example");
  EXPECT_EQ(DecodeEncodedWords(to[1].displayName) + "|" + to[1].address, "Zoë|z@y.example");
  for (const std::string& line : message.lines)
    for (unsigned char c : line) ASSERT_LT(c, 0x80) << line;
}

TEST(MailComposer, LongHeadersFoldWithoutColonsOnContinuationLines) {
  // The spool reader takes every line holding a ":" for a new header, so no fold may come
  // before the last colon, which here stands far past the fold column.
  std::string subject = "Re:", to;
  for (int i = 0; i < 40; ++i) subject += (i == 20 ? " at 10:30 w" : " w") + std::to_string(i);
  for (int i = 0; i < 12; ++i) to += "person" + std::to_string(i) + "@example.org,";
  MailComposer composer;
  ASSERT_TRUE(composer.NewMail(subject, "a@b.example", to, "b"));
  const Message message = Composed(composer);
  int continuations = 0;
  for (const std::string& line : message.lines) {
    if (line[0] != ' ' && line[0] != '\t') continue;
    ++continuations;
    EXPECT_EQ(line.find(':'), std::string::npos) << line;
    EXPECT_FALSE(Trim(line, " \t").empty());
  }
  EXPECT_GE(continuations, 3);
  EXPECT_EQ(message.Header("Subject"), subject);
  EXPECT_EQ(GroupRecipientItems(message.Header("To")).size(), 12u);
}

TEST(MailComposer, HeaderInjectionIsRefused) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"X-pvx-IsReturnMail", "1", true},       {"X-Note", "Grüße", true},
      {"X-A", "v\r\nBcc: e@x.example", false}, {"X-A", "v\nBcc: e@x.example", false},
      {"X-A", "v\r", false},                   {"Bad Name", "v", false},
      {"content-type", "text/html", false},
      {"Subject", "second", false},            {"X-Huge", std::string(1000, 'x'), false},
  };
  MailComposer composer;
  EXPECT_FALSE(composer.AddHeader("X-Early", "before NewMail"));
  EXPECT_FALSE(composer.NewMail("a\r\nBcc: e@x.example", "x@y.example", "a@b.example", "b"));
  EXPECT_FALSE(composer.NewMail("s", "x@y.example\nBcc: e@x.example", "a@b.example", "b"));
  EXPECT_EQ(composer.Compose(kWhen), "");
  ASSERT_TRUE(composer.NewMail("a\r\n\tb", "x@y.example", "a@b.example,\r\n c@d.example", "b"));
  for (const auto& [name, value, accepted] : cases) {
    EXPECT_EQ(composer.AddHeader(name, value), accepted) << name;
    EXPECT_EQ(composer.lastError().empty(), accepted) << name;
  }
  const Message message = Composed(composer);
  EXPECT_EQ(message.Header("Subject"), "a\tb");
  EXPECT_EQ(message.Header("To"), "a@b.example, c@d.example");
  EXPECT_EQ(message.Header("X-pvx-IsReturnMail"), "1");
  EXPECT_EQ(DecodeEncodedWords(message.Header("X-Note")), "Grüße");
  EXPECT_EQ(message.Header("Bcc") + message.Header("X-Huge") + message.Header("X-Early"), "???");
  EXPECT_EQ(message.Header("Content-Type"), "text/plain; charset=utf-8");
  composer.Reset();
  EXPECT_EQ(composer.Compose(kWhen), "");
}

TEST(MailComposer, AttachmentsMakeAMultipartMessageSpooledByteForByte) {
  test::TempDir dir;
  std::string binary;
  for (int i = 0; i < 512; ++i) binary += static_cast<char>(i);
  ASSERT_FALSE(WriteFileDurably(dir / "failed.$$$", binary));
  const std::string body = "Body Grüße — ✓ 😀\r\n--not a boundary";
  MailComposer composer;
  ASSERT_TRUE(composer.NewMail("s", "a@b.example", "c@d.example", body));
  ASSERT_TRUE(composer.AddTextAttachment("Protocol line\r\n", "Protocol.txt"));
  ASSERT_TRUE(composer.AddFileAttachment(dir / "failed.$$$", "Grüße \"1\".eml"));
  ASSERT_TRUE(composer.AddFileAttachment(dir / "failed.$$$", std::string(70, 'n') + "ä"));
  EXPECT_FALSE(composer.AddFileAttachment(dir / "missing", "x.bin"));

  const std::vector<Message> parts = Composed(composer).Parts();
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].body, body + "\r\n");  // the UTF-8 bytes of the body
  EXPECT_EQ(parts[1].Header("Content-Type"), "text/plain; charset=utf-8;\tname=\"Protocol.txt\"");
  EXPECT_EQ(parts[1].Header("Content-Disposition"), "attachment;\tfilename=\"Protocol.txt\"");
  EXPECT_EQ(parts[1].Decoded(), "Protocol line\r\n");
  EXPECT_TRUE(parts[2].Header("Content-Type").starts_with("application/octet-stream;"));
  EXPECT_EQ(parts[2].Header("Content-Disposition"),
            "attachment;\tfilename*=utf-8''Gr%C3%BC%C3%9Fe%20%221%22.eml");
  EXPECT_EQ(parts[2].Decoded(), binary);
  EXPECT_EQ(parts[3].Header("Content-Disposition"),
            "attachment;\tfilename*0*=utf-8''" + std::string(53, 'n') + ";\tfilename*1*=" +
                std::string(17, 'n') + "%C3%A4");

  // A file already under that name is another mail and is never replaced.
  std::string error;
  ASSERT_TRUE(composer.SpoolToFile(dir / "a.eml", error)) << error;
  const std::string bytes = test::ReadFile(dir / "a.eml");
  EXPECT_FALSE(composer.SpoolToFile(dir / "a.eml", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::ReadFile(dir / "a.eml"), bytes);
  EXPECT_FALSE(MailComposer().SpoolToFile(dir / "b.eml", error));
}

}  // namespace
}  // namespace pv
