#include "support/mime_words.h"

#include <gtest/gtest.h>

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
      {"=?ISO-8859-1?Q?gr=FCn_ist?=", "grün ist"},
      {"=?utf-8?B?R3LD\r\n vA==?=", "Grü"},  // Base64 may carry blanks
      {"=?utf-8?Q?x?= tail =?y", "x tail =?y"},
      {"=?a?b?c?d?=", "=?a?b?c?d?="},  // the third "?" must close the word
      {"=?utf-8?B?no*base64?=", "=?utf-8?B?no*base64?="},
      {"=?windows-1252?Q?=80?=", "€"},
      {"=?unknown?Q?=E9?=", "é"},  // unknown charsets: one character per byte
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
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecodeQuotedPrintable(in), out) << in;
}

struct EncodeCase {
  std::string charset, text, encoding, expected;
};

TEST(MimeWordsEncode, EncodesOnlyWhatNeedsIt) {
  const std::vector<EncodeCase> cases = {
      {"UTF-8", "Hello", "B", "Hello"},
      {"UTF-8", "tab\tand blank ~", "B", "tab\tand blank ~"},
      {"UTF-8", "Grüße", "B", "=?utf-8?B?R3LDvMOfZQ==?="},
      {"UTF-8", "line\r\nBcc: x", "B", "=?utf-8?B?bGluZQ0KQmNjOiB4?="},
      {"ISO-8859-1", "100¢", "B", "100¢"},  // 162 still passes
      {"ISO-8859-1", "100£", "B", "=?iso-8859-1?B?MTAwow==?="},
      {"UTF-8", "Grüße", "Q", "=?utf-8?Q?Gr=C3=BC=C3=9Fe?="},
      {"UTF-8", "ü b?_=", "q", "=?utf-8?Q?=C3=BC_b=3F=5F=3D?="},
  };
  for (const EncodeCase& c : cases)
    EXPECT_EQ(EncodeHeaderValue(c.charset, c.text, c.encoding), c.expected) << c.text;
}

TEST(MimeWordsEncode, LongValuesInOtherCharsetsKeepCharactersWhole) {
  struct LongCase {
    std::string charset, encoding, prefix, text;
  };
  std::string japanese, korean;
  for (int i = 0; i < 60; ++i) {
    japanese += "日本語のテキスト";
    korean += "한국어 텍스트 ";
  }
  const std::vector<LongCase> cases = {
      {"iso-2022-jp", "B", "=?iso-2022-jp?B?", japanese},  // stateful: each word resets
      {"shift_jis", "B", "=?shift_jis?B?", japanese},
      {"UTF-8", "Q", "=?utf-8?Q?", japanese + korean},
  };
  for (const LongCase& c : cases) {
    const std::string value = EncodeHeaderValue(c.charset, c.text, c.encoding);
    EXPECT_GT(SplitWords(value).size(), 2u) << c.charset;
    EXPECT_EQ(DecodeEachWord(value, c.prefix), c.text) << c.charset << " " << c.encoding;
    EXPECT_EQ(DecodeEncodedWords(value), c.text) << c.charset << " " << c.encoding;
  }
}

TEST(MimeWordsBase64, EncodesAndDecodesAcceptingSpacesAndMissingPaddingOnly) {
  for (const auto& [bytes, text] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFF\0\x80"s, "/wCA"}})
    EXPECT_EQ(Base64Encode(bytes), text);
  const std::vector<std::tuple<std::string, bool, std::string>> cases = {
      {"Zm9v", true, "foo"},              {"/wCA", true, "\xFF\0\x80"s},
      {"Zm 9v\r\n\tYg==", true, "foob"}, {"Zg", true, "f"},   {"Zm8", true, "fo"},
      {"Zg=", false, ""},                 {"Z", false, ""},     {"Zm9v!", false, ""},
      {"Zg==Zg==", false, ""},            {"Zm9v=", false, ""}};
  for (const auto& [text, ok, bytes] : cases) {
    Bytes out = "junk";
    EXPECT_EQ(Base64Decode(text, out), ok) << text;
    EXPECT_EQ(out, bytes) << text;
  }
}

}  // namespace
}  // namespace pv
