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
      {"x-sjis", 932},           {"KOI", 20866},
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

}  // namespace
}  // namespace pv
