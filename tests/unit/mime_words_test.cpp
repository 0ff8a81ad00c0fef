#include "support/mime_words.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/base64.h"
#include "support/codepage.h"
#include "support/text.h"

namespace pv {
namespace {

using namespace std::string_literals;

std::vector<std::string> SplitWords(const std::string& value) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (std::size_t sep; (sep = value.find("\r\n\t", start)) != std::string::npos; start = sep + 3)
    words.push_back(value.substr(start, sep - start));
  words.push_back(value.substr(start));
  return words;
}

// Checks the shape of an encoded value and returns its text decoded word by word.
std::string DecodeEachWord(const std::string& value, const std::string& prefix) {
  std::string joined;
  for (const std::string& word : SplitWords(value)) {
    EXPECT_LE(word.size(), 75u) << word;
    EXPECT_TRUE(word.starts_with(prefix) && word.ends_with("?=")) << word;
    for (char c : word) EXPECT_TRUE(c > 32 && c < 127) << word;
    const std::string alone = DecodeEncodedWords(word);
    EXPECT_TRUE(IsValidUtf8(alone)) << word;
    joined += alone;
  }
  return joined;
}

TEST(MimeWordsDecode, ReplacesWordsByTheirText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Hello\r\n\tWorld", "Hello\r\n\tWorld"},  // no word: folding stays
      {"Re: =?UTF-8?B?R3LDvMOfZQ==?= end", "Re: Grüße end"},
      {"=?utf-8?B?R3LDvA==?=\r\n\t=?utf-8?B?w59l?=", "Grüße"},
      {"=?utf-8?B?R3LDvA==?= =?utf-8?B?w59l?=", "Grü ße"},
      {"=?ISO-8859-1?Q?gr=FCn_ist?=", "grün ist"},
      {"=?utf-8?Q?a=5Fb_c?=", "a_b c"},
      {"=?utf-8?B?R3LD\r\n vA==?=", "Grü"},  // Base64 may carry blanks
      {"a\t=?utf-8?Q?x?=\tb", "axb"},
      {"=?utf-8?Q?x?= tail =?y", "x tail =?y"},
      {"Price =?5? off", "Price =?5? off"},
      {"=?a?b?c?d?=", "=?a?b?c?d?="},  // the third "?" must close the word
      {"=?utf-8?B?no*base64?=", "=?utf-8?B?no*base64?="},
      {"=?utf-8?X?as is?=", "as is"},
      {"=?windows-1252?Q?=80?=", "€"},
      {"=?unknown?Q?=E9?=", "é"},  // unknown charsets: one character per byte
      {"=?shift_jis?B?k/qWew==?=", "日本"},
      {"=?utf-8?B?/w==?=", "\uFFFD"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecodeEncodedWords(in), out) << in;
}

TEST(MimeWordsDecode, EmptyCharsetMeansSystemCodePage) {
  EXPECT_EQ(DecodeEncodedWords("=??Q?a=E9?="), DecodeCodePage("a\xE9", DefaultCodePage()));
}

TEST(MimeWordsQuotedPrintable, DecodesToBytes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc", "abc"},           {"=41=4a=4A", "AJJ"},     {"=FC", "\xFC"},
      {"a=\r\nb", "ab"},        {"a=\nb", "ab"},          {"a= \t\r\nb", "ab"},
      {"a=  b", "ab"},          {"a= ", "a"},             {"=zz!", "\0!"s},
      {"=4g", "\0"s},           {"ab=", "ab="},           {"ab=4", "ab=4"},
      {"x=3D=3D", "x=="},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecodeQuotedPrintable(in), out) << in;
}

struct EncodeCase {
  std::string charset, text, encoding, expected;
};

TEST(MimeWordsEncode, EncodesOnlyWhatNeedsIt) {
  const std::vector<EncodeCase> cases = {
      {"UTF-8", "Hello", "B", "Hello"},
      {"UTF-8", "", "B", ""},
      {"UTF-8", "tab\tand blank ~", "B", "tab\tand blank ~"},
      {"UTF-8", "Grüße", "B", "=?utf-8?B?R3LDvMOfZQ==?="},
      {"utf-8", "Grüße", "b", "=?utf-8?B?R3LDvMOfZQ==?="},
      {"UTF-8", "a=b", "B", "=?utf-8?B?YT1i?="},
      {"UTF-8", "line\r\nBcc: x", "B", "=?utf-8?B?bGluZQ0KQmNjOiB4?="},
      {"ISO-8859-1", "100¢", "B", "100¢"},  // 162 still passes
      {"ISO-8859-1", "100£", "B", "=?iso-8859-1?B?MTAwow==?="},
      {"UTF-8", "Grüße", "Q", "=?utf-8?Q?Gr=C3=BC=C3=9Fe?="},
      {"UTF-8", "ü b?_=", "q", "=?utf-8?Q?=C3=BC_b=3F=5F=3D?="},
      {"UTF-8", "ü", "", "=?utf-8?Q?=C3=BC?="},
  };
  for (const EncodeCase& c : cases)
    EXPECT_EQ(EncodeHeaderValue(c.charset, c.text, c.encoding), c.expected) << c.text;
}

TEST(MimeWordsEncode, LongValuesInOtherCharsetsKeepCharactersWhole) {
  struct LongCase {
    std::string charset, encoding, prefix, text;
  };
  // UTF-8 is in RoundTripsRandomTexts.
  std::string japanese, korean;
  for (int i = 0; i < 60; ++i) {
    japanese += "日本語のテキスト";
    korean += "한국어 텍스트 ";
  }
  const std::vector<LongCase> cases = {
      {"iso-2022-jp", "B", "=?iso-2022-jp?B?", japanese},  // stateful: each word resets
      {"iso-2022-jp", "Q", "=?iso-2022-jp?Q?", japanese},
      {"shift_jis", "B", "=?shift_jis?B?", japanese},
      {"euc-kr", "B", "=?ks_c_5601-1987?B?", korean},  // longest charset name
  };
  for (const LongCase& c : cases) {
    const std::string value = EncodeHeaderValue(c.charset, c.text, c.encoding);
    EXPECT_GT(SplitWords(value).size(), 2u) << c.charset;
    EXPECT_EQ(DecodeEachWord(value, c.prefix), c.text) << c.charset << " " << c.encoding;
    EXPECT_EQ(DecodeEncodedWords(value), c.text) << c.charset << " " << c.encoding;
  }
}

// Random texts from several scripts survive encoding and decoding, word by word and whole.
TEST(MimeWordsEncode, RoundTripsRandomTexts) {
  const std::vector<std::pair<char32_t, char32_t>> ranges = {
      {0x20, 0x7E}, {0x09, 0x0D}, {0xA0, 0xFF}, {0x4E00, 0x9FFF}, {0x3040, 0x30FF},
      {0x1F600, 0x1F64F}, {0x0400, 0x04FF}};
  std::mt19937 random(20240611);
  for (int round = 0; round < 600; ++round) {
    // Rounds cycle through one script at a time, then everything mixed.
    const std::size_t only = round % (ranges.size() + 1);
    const int length = round % 5 == 0 ? 200 + static_cast<int>(random() % 150)
                                      : static_cast<int>(random() % 80);
    std::string text;
    for (int i = 0; i < length; ++i) {
      const auto& [low, high] =
          only < ranges.size() ? ranges[only] : ranges[random() % ranges.size()];
      AppendCodePoint(text, low + static_cast<char32_t>(random() % (high - low + 1)));
    }
    for (const std::string encoding : {"B", "Q"}) {
      const std::string value = EncodeHeaderValue("UTF-8", text, encoding);
      EXPECT_EQ(DecodeEncodedWords(value), text) << "round " << round;
      if (value != text) {
        EXPECT_EQ(DecodeEachWord(value, "=?utf-8?" + encoding + "?"), text) << "round " << round;
      }
    }
  }
}

TEST(MimeWordsBase64, EncodesAndDecodesAcceptingSpacesAndMissingPaddingOnly) {
  for (const auto& [bytes, text] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFF\0\x80"s, "/wCA"}})
    EXPECT_EQ(Base64Encode(bytes), text);
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
      {"Zm9v", true, "foo"},              {"/wCA", true, "\xFF\0\x80"s},
      {"Zm 9v\r\n\tYg==", true, "foob"}, {"Zg", true, "f"},   {"Zm8", true, "fo"},
      {"Zg=", false, ""},                 {"Z", false, ""},     {"Zm9vY", false, ""},
      {"Zg==Zg==", false, ""},            {"Zm9v-", false, ""}, {"Zm9v!", false, ""},
      {"Zm9=v", false, ""},               {"====", false, ""},  {"Zm9v=", false, ""}};
  for (const auto& [text, ok, bytes] : cases) {
    Bytes out = "junk";
    EXPECT_EQ(Base64Decode(text, out), ok) << text;
    EXPECT_EQ(out, bytes) << text;
  }
}

}  // namespace
}  // namespace pv
