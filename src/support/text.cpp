#include "support/text.h"

#include <algorithm>

namespace pv {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Decodes one character at text[pos]. Lone surrogates in their three-byte form are accepted
// when `allowSurrogates`; anything else malformed yields U+FFFD over one byte.
char32_t DecodeAt(std::string_view text, std::size_t pos, std::size_t& length,
                  bool allowSurrogates) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  length = 1;
  if (b0 < 0x80) return b0;
  std::size_t need = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; min = 0x80; }
  else if (b0 >= 0xE0 && b0 <= 0xEF) { need = 2; cp = b0 & 0x0F; min = 0x800; }
  else if (b0 >= 0xF0 && b0 <= 0xF4) { need = 3; cp = b0 & 0x07; min = 0x10000; }
  else return 0xFFFD;
  if (pos + need >= text.size()) return 0xFFFD;
  for (std::size_t i = 1; i <= need; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(b)) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF) return 0xFFFD;
  if (IsSurrogate(cp) && !allowSurrogates) return 0xFFFD;
  length = need + 1;
  return cp;
}

void AppendUnit(Bytes& out, char16_t unit, bool bigEndian) {
  const char lo = static_cast<char>(unit & 0xFF);
  const char hi = static_cast<char>(unit >> 8);
  if (bigEndian) { out += hi; out += lo; } else { out += lo; out += hi; }
}

std::vector<char16_t> Utf16Units(std::string_view text) {
  std::vector<char16_t> units;
  units.reserve(text.size());
  for (char32_t cp : CodePoints(text)) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  return units;
}

}  // namespace

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::vector<std::string> Split(std::string_view text, char separator) {
  const std::vector<std::string_view> views = SplitAt(text, std::string_view(&separator, 1));
  return {views.begin(), views.end()};
}

std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const auto pos = text.find(separator, start);
    parts.push_back(text.substr(start, pos == std::string_view::npos ? pos : pos - start));
    if (pos == std::string_view::npos) return parts;
    start = pos + separator.size();
  }
}

std::vector<char32_t> CodePoints(std::string_view text) {
  std::vector<char32_t> cps;
  cps.reserve(text.size());
  for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len)
    cps.push_back(DecodeAt(text, pos, len, true));
  return cps;
}

void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t CodePointAt(std::string_view text, std::size_t pos, std::size_t& length) {
  return DecodeAt(text, pos, length, true);
}

std::size_t CharLengthAt(std::string_view text, std::size_t pos) {
  std::size_t len = 1;
  DecodeAt(text, pos, len, true);
  return len;
}

bool EncodeUtf8(std::string_view text, Bytes& out, std::size_t reserve) {
  out.clear();
  if (text.empty()) return false;
  for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len) {
    if (IsSurrogate(DecodeAt(text, pos, len, true))) {
      EncodeUtf16(text, out, 0, false);
      return false;
    }
  }
  out.assign(reserve, '\0');
  out.append(text);
  return true;
}

std::string DecodeUtf8(std::string_view bytes, std::size_t skip) {
  std::string out;
  if (skip >= bytes.size()) return out;
  bytes.remove_prefix(skip);
  out.reserve(bytes.size());
  for (std::size_t pos = 0, len = 0; pos < bytes.size(); pos += len) {
    const char32_t cp = DecodeAt(bytes, pos, len, false);
    if (len > 1 || cp < 0x80) out.append(bytes.substr(pos, len));
    else AppendCodePoint(out, cp);
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0, len = 0; pos < bytes.size(); pos += len) {
    const char32_t cp = DecodeAt(bytes, pos, len, false);
    if (cp == 0xFFFD && len == 1) return false;
  }
  return true;
}

bool EncodeUtf16(std::string_view text, Bytes& out, std::size_t reserve, bool bigEndian) {
  out.clear();
  if (text.empty()) return false;
  const auto units = Utf16Units(text);
  out.assign(reserve, '\0');
  out.reserve(reserve + 2 * units.size());
  for (char16_t u : units) AppendUnit(out, u, bigEndian);
  return true;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian, std::size_t skip) {
  std::string out;
  if (skip >= bytes.size() || bytes.size() - skip < 2) return out;
  bytes.remove_prefix(skip);
  std::vector<char16_t> units;
  units.reserve(bytes.size() / 2 + 1);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    // An odd last byte is the low byte of a last unit.
    const bool odd = i + 1 >= bytes.size();
    const unsigned hi = bigEndian && !odd ? first : second;
    const unsigned lo = bigEndian && !odd ? second : first;
    units.push_back(static_cast<char16_t>((hi << 8) | lo));
  }
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else {
      AppendCodePoint(out, u);
    }
  }
  return out;
}

Bytes NarrowToBytes(std::string_view text) {
  Bytes out;
  out.reserve(text.size());
  for (char16_t u : Utf16Units(text)) out += static_cast<char>(u & 0xFF);
  return out;
}

std::string WidenBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) AppendCodePoint(out, b);
  return out;
}

std::string QuoteString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace pv
