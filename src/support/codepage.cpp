#include "support/codepage.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <map>
#include <mutex>

namespace pv {
namespace {

// Code page 1252, bytes 0x80 to 0x9F. The five bytes that the code page leaves unassigned map
// to the C1 controls of the same value, so every byte survives a decode and encode.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Decode1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (unsigned char b : bytes) {
    if (b < 0x80) out += static_cast<char>(b);
    else AppendCodePoint(out, b < 0xA0 ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

Bytes Encode1252(std::string_view text) {
  Bytes out;
  out.reserve(text.size());
  Append1252(text, out);
  return out;
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() { if (ok()) iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts input; on an invalid sequence appends `replacement` and skips `skip(pos)` bytes.
  template <typename Skip>
  std::string Convert(std::string_view input, std::string_view replacement, Skip skip) {
    std::string out;
    char buffer[4096];
    std::size_t pos = 0;
    while (pos < input.size()) {
      char* in = const_cast<char*>(input.data() + pos);
      std::size_t inLeft = input.size() - pos;
      char* o = buffer;
      std::size_t oLeft = sizeof buffer;
      const std::size_t rc = iconv(cd_, &in, &inLeft, &o, &oLeft);
      const int err = errno;
      out.append(buffer, static_cast<std::size_t>(o - buffer));
      pos = input.size() - inLeft;
      if (rc != static_cast<std::size_t>(-1) || err == E2BIG) continue;
      out.append(replacement);
      pos += skip(input, pos);
    }
    Flush(out);
    return out;
  }

 private:
  void Flush(std::string& out) {
    char buffer[64];
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &o, &oLeft);
    out.append(buffer, static_cast<std::size_t>(o - buffer));
  }
  iconv_t cd_;
};

struct IconvName {
  CodePage codePage;
  const char* name;
};

constexpr IconvName kIconvNames[] = {
    {437, "CP437"},        {708, "ASMO-708"},     {850, "CP850"},        {852, "CP852"},
    {862, "CP862"},        {866, "CP866"},        {874, "CP874"},        {932, "CP932"},
    {936, "CP936"},        {949, "CP949"},        {950, "CP950"},        {1250, "CP1250"},
    {1251, "CP1251"},      {1253, "CP1253"},      {1254, "CP1254"},      {1255, "CP1255"},
    {1256, "CP1256"},      {1257, "CP1257"},      {1258, "CP1258"},      {10000, "MACINTOSH"},
    {20127, "ASCII"},      {20866, "KOI8-R"},     {21866, "KOI8-U"},     {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {50225, "ISO-2022-KR"},
    {51932, "EUC-JP"},     {51936, "EUC-CN"},     {51949, "EUC-KR"},     {52936, "HZ-GB-2312"},
    {54936, "GB18030"},    {65000, "UTF-7"},
};

bool IconvKnows(const char* name) {
  static std::mutex mutex;
  static std::map<std::string, bool> known;
  std::lock_guard lock(mutex);
  auto it = known.find(name);
  if (it == known.end()) it = known.emplace(name, Iconv("UTF-8", name).ok()).first;
  return it->second;
}

struct CodesetPage {
  const char* codeset;
  CodePage codePage;
};

constexpr CodesetPage kCodesets[] = {
    {"UTF-8", kCodePageUtf8},   {"ANSI_X3.4-1968", kCodePageUtf8}, {"ISO-8859-1", 28591},
    {"ISO-8859-2", 28592},      {"ISO-8859-5", 28595},             {"ISO-8859-7", 28597},
    {"ISO-8859-9", 28599},      {"ISO-8859-13", 28603},            {"ISO-8859-15", 28605},
    {"KOI8-R", 20866},          {"KOI8-U", 21866},                 {"CP1251", 1251},
    {"CP1252", 1252},           {"EUC-JP", 51932},                 {"GB2312", 936},
    {"GBK", 936},               {"BIG5", 950},                     {"EUC-KR", 949},
    {"GB18030", 54936},
};

}  // namespace

char Encode1252Char(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

void Append1252(std::string_view text, Bytes& out) {
  for (std::size_t pos = 0; pos < text.size();) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) { out += static_cast<char>(b); ++pos; continue; }
    std::size_t len = 1;
    out += Encode1252Char(CodePointAt(text, pos, len));
    pos += len;
  }
}

const char* IconvNameOf(CodePage codePage) {
  for (const auto& entry : kIconvNames)
    if (entry.codePage == codePage) return entry.name;
  return "";
}

bool IsValidCodePage(CodePage codePage) {
  if (codePage == kCodePage1252 || codePage == kCodePageUtf8) return true;
  const char* name = IconvNameOf(codePage);
  return *name != '\0' && IconvKnows(name);
}

CodePage DefaultCodePage() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) return kCodePageUtf8;
  for (const auto& entry : kCodesets)
    if (EqualsNoCase(codeset, entry.codeset)) return entry.codePage;
  return kCodePageUtf8;
}

bool EncodeCodePage(std::string_view text, CodePage codePage, Bytes& out) {
  out.clear();
  if (!IsValidCodePage(codePage)) {
    if (codePage == kCodePageUtf8) EncodeUtf8(text, out, 0);
    else out = NarrowToBytes(text);
    return false;
  }
  if (codePage == kCodePage1252) out = Encode1252(text);
  else if (codePage == kCodePageUtf8) out = DecodeUtf8(text);  // lone surrogates become U+FFFD
  else out = Iconv(IconvNameOf(codePage), "UTF-8")
                 .Convert(DecodeUtf8(text), "?", [](std::string_view in, std::size_t pos) {
                   return CharLengthAt(in, pos);
                 });
  return !out.empty();
}

std::string DecodeCodePage(std::string_view bytes, CodePage codePage) {
  if (bytes.empty()) return {};
  if (!IsValidCodePage(codePage))
    return codePage == kCodePageUtf8 ? DecodeUtf8(bytes) : WidenBytes(bytes);
  if (codePage == kCodePage1252) return Decode1252(bytes);
  if (codePage == kCodePageUtf8) return DecodeUtf8(bytes);
  return Iconv("UTF-8", IconvNameOf(codePage))
      .Convert(bytes, "\xEF\xBF\xBD", [](std::string_view, std::size_t) { return 1; });
}

}  // namespace pv
