#include "support/charsets.h"

namespace pv {
namespace {

struct CharsetRow {
  CodePage codePage;
  std::string_view name;     // the name written into MIME words
  std::string_view aliases;  // lower-case names read as this code page, separated by ","
};

// Rows are searched in order; the first row listing a name wins.
constexpr CharsetRow kCharsets[] = {
    {65000, "utf-7", "utf-7,csunicode11utf7,unicode-1-1-utf-7,x-unicode-2-0-utf-7"},
    {65001, "utf-8", "utf-8,csunicode11utf8,unicode-1-1-utf-8,x-unicode-2-0-utf-8"},
    {2, "MAC", "mac"},
    {1, "OEM", "oem"},
    {0, "ANSI", "ansi"},
    {708, "ASMO-708", "asmo-708"},
    {720, "DOS-720", "dos-720"},
    {862, "dos-862", "dos-862"},
    {852, "ibm852", "ibm852,cp852"},
    {936, "gb2312", "gb2312,chinese,csgb2312,csiso58gb23128,gbk,gb_2312-80,iso-ir-58"},
    {52936, "hz-gb-2312", "hz-gb-2312"},
    {20866, "koi8-r", "koi8-r,cskoi8r,koi"},
    {950, "big5", "big5,csbig5,x-x-big5"},
    {21866, "koi8-u", "koi8-u"},
    {51932, "euc-jp",
     "euc-jp,cseucpkdfmtjapanese,extended_unix_code_packed_format_for_japanese,x-euc,x-euc-jp"},
    {932, "shift_jis",
     "shift_jis,csshiftjis,cswindows31j,ms_kanji,shift-jis,x-ms-cp932,x-sjis"},
    {949, "ks_c_5601-1987", "ks_c_5601-1987,csksc56011987,euc-kr,korean,ks_c_5601"},
    {866, "cp866", "cp866,ibm866"},
    {1252, "iso-8859-1",
     "iso-8859-1,ansi_x3.4-1968,ansi_x3.4-1986,ascii,cp367,cp819,csascii,ibm367,ibm819,"
     "iso-ir-100,iso-ir-6,iso646-us,iso8859-1,iso_646.rv:1991,iso_8859-1,iso_8859-1:1987,"
     "latin1,us,us-ascii,x-ansi,windows-1252"},
    {28592, "iso-8859-2",
     "iso-8859-2,csisolatin2,iso-ir-101,iso8859-2,iso_8859-2,iso_8859-2:1987,l2,latin2"},
    {28593, "iso-8859-3", "iso-8859-3"},
    {28594, "iso-8859-4", "iso-8859-4,csisolatin4,iso-ir-110,iso_8859-4,iso_8859-4:1988,l4,latin4"},
    {28595, "iso-8859-5",
     "iso-8859-5,csisolatincyrillic,cyrillic,iso-ir-144,iso_8859-5,iso_8859-5:1988"},
    {28596, "iso-8859-6",
     "iso-8859-6,iso_8859-6:1987,iso-ir-127,iso_8859-6,ecma-114,arabic,csisolatinarabic"},
    {28597, "iso-8859-7",
     "iso-8859-7,csisolatingreek,ecma-118,elot_928,greek,greek8,iso-ir-126,iso_8859-7,"
     "iso_8859-7:1987"},
    {28598, "iso-8859-8",
     "iso-8859-8,csisolatinhebrew,hebrew,iso-ir-138,iso_8859-8,visual,iso-8859-8 visual"},
    {28599, "iso-8859-9",
     "iso-8859-9,csisolatin5,iso_8859-9,iso_8859-9:1989,iso-ir-148,l5,latin5"},
    {874, "iso-8859-11", "iso-8859-11,windows-874"},
    {1257, "windows-1257", "iso-8859-13,windows-1257"},
    {28605, "iso-8859-15", "iso-8859-15,latin9,latin0"},
    {50225, "iso-2022-kr", "iso-2022-kr,csiso2022kr"},
    {50220, "iso-2022-jp", "iso-2022-jp"},
    {50221, "csiso2022jp", "csiso2022jp"},
    {50222, "iso-2022-jp", ""},
    {1250, "windows-1250", "windows-1250,x-cp1250"},
    {1251, "windows-1251", "windows-1251,x-cp1251"},
    {1253, "windows-1253", "windows-1253"},
    {1254, "windows-1254", "windows-1254"},
    {1255, "windows-1255", "windows-1255,logical,iso_8859-8:1988"},
    {1256, "windows-1256", "windows-1256"},
    {1258, "windows-1258", "windows-1258"},
};

bool ListsName(std::string_view aliases, std::string_view name) {
  std::size_t start = 0;
  while (start <= aliases.size()) {
    std::size_t end = aliases.find(',', start);
    if (end == std::string_view::npos) end = aliases.size();
    if (aliases.substr(start, end - start) == name) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

CodePage CharsetToCodePage(std::string_view name) {
  const std::string lower = ToLowerAscii(name);
  if (lower.empty()) return 0;
  for (const CharsetRow& row : kCharsets) {
    if (ListsName(row.aliases, lower)) return row.codePage;
  }
  return 0;
}

std::string CodePageToCharset(CodePage codePage) {
  for (const CharsetRow& row : kCharsets) {
    if (row.codePage == codePage) return std::string(row.name);
  }
  return {};
}

}  // namespace pv
