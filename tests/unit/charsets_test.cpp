#include "support/charsets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/codepage.h"

namespace pv {
namespace {

TEST(Charsets, NamesToCodePages) {
  const std::vector<std::pair<std::string, CodePage>> cases = {
      {"ISO-8859-1", 1252},      {"us-ascii", 1252},   {"UTF-8", 65001},
      {"x-sjis", 932},           {"KOI", 20866},       {"iso-8859-8 visual", 28598},
      {"iso_8859-8:1988", 1255}, {"latin0", 28605},    {"oem", 1},
      {"unknown", 0},            {" utf-8", 0},        {"utf8", 0},
  };
  for (const auto& [name, codePage] : cases) EXPECT_EQ(CharsetToCodePage(name), codePage) << name;
}

TEST(Charsets, CodePagesToNames) {
  const std::vector<std::pair<CodePage, std::string>> cases = {
      {1252, "iso-8859-1"}, {949, "ks_c_5601-1987"}, {50222, "iso-2022-jp"}, {28591, ""},
      {12345, ""}};
  for (const auto& [codePage, name] : cases) EXPECT_EQ(CodePageToCharset(codePage), name);
}

// Every code page of the table: its name reads back as itself, and the conversions know it
// (glibc has no converter for DOS-720 and HZ-GB-2312; 0, 1 and 2 are not real code pages).
TEST(Charsets, EveryRowIsConsistentAndConvertible) {
  const std::vector<CodePage> table = {
      65000, 65001, 2,     1,     0,     708,   720,   862,   852,   936,   52936,
      20866, 950,   21866, 51932, 932,   949,   866,   1252,  28592, 28593, 28594,
      28595, 28596, 28597, 28598, 28599, 874,   1257,  28605, 50225, 50220, 50221,
      50222, 1250,  1251,  1253,  1254,  1255,  1256,  1258};
  for (CodePage codePage : table) {
    const std::string name = CodePageToCharset(codePage);
    ASSERT_FALSE(name.empty()) << codePage;
    EXPECT_EQ(CharsetToCodePage(name), codePage == 50222 ? 50220u : codePage) << name;
    if (codePage > 2 && codePage != 720 && codePage != 52936) {
      EXPECT_TRUE(IsValidCodePage(codePage)) << codePage;
    }
  }
}

}  // namespace
}  // namespace pv
