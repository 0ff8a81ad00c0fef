#include <gtest/gtest.h>

#include "support/codepage.h"
#include "support/text.h"

namespace pv {
namespace {

TEST(CodePage1252, UnassignedBytesAreTheirC1Controls) {
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    const std::string text = DecodeCodePage(std::string(1, static_cast<char>(b)), kCodePage1252);
    EXPECT_EQ(CodePoints(text), std::vector<char32_t>{b}) << int(b);
  }
  EXPECT_EQ(DecodeCodePage("\x80\x9F\xFC", kCodePage1252), "\u20AC\u0178\u00FC");
}

struct IconvCase {
  CodePage codePage;
  Bytes bytes;
  std::string text;
};

TEST(CodePageIconv, KnownPagesConvertBothWays) {
  const std::vector<IconvCase> cases = {
      {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
      {932, "\x93\xFA\x96\x7B", "日本"},
      {50220, "\x1B$BF|K\\\x1B(B", "日本"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(IsValidCodePage(c.codePage)) << c.codePage;
    EXPECT_EQ(DecodeCodePage(c.bytes, c.codePage), c.text) << c.codePage;
    Bytes out;
    EXPECT_TRUE(EncodeCodePage(c.text, c.codePage, out));
    EXPECT_EQ(out, c.bytes) << c.codePage;
  }
}

TEST(CodePageIconv, UnknownPagesFallBackToOneCharacterPerByte) {
  EXPECT_FALSE(IsValidCodePage(0));
  EXPECT_FALSE(IsValidCodePage(12345));
  EXPECT_EQ(DecodeCodePage("\xFC", 0), "ü");
  Bytes out;
  EXPECT_FALSE(EncodeCodePage("ü", 0, out));
  EXPECT_EQ(out, "\xFC");
}

TEST(CodePageIconv, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(DecodeCodePage("a\xFF" "b", 932), "a\uFFFDb");
  EXPECT_EQ(DecodeCodePage("a\xC3(b", kCodePageUtf8), "a\uFFFD(b");
  Bytes out;
  EncodeCodePage("a中b", 1251, out);
  EXPECT_EQ(out, "a?b");
  EncodeCodePage("a\u4E2Db\u20AC", kCodePage1252, out);
  EXPECT_EQ(out, "a?b\x80");
}

}  // namespace
}  // namespace pv
