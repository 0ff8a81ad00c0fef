#include "support/mime_words.h"

#include <algorithm>
#include <vector>

#include "support/base64.h"
#include "support/charsets.h"
#include "support/codepage.h"

namespace pv {
namespace {

// RFC 2047 limits a word to 75 characters. The encoded text of a word is kept to 60
// characters (45 bytes in Base64), so a folded line stays short.
constexpr std::size_t kMaxWordLength = 75;
constexpr std::size_t kMaxEncodedText = 60;
constexpr std::string_view kWordSeparator = "\r\n\t";

// Folding inside and around encoded words: CR LF pairs and tabs go.
void RemoveFolding(std::string& text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\t') continue;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    kept += text[i];
  }
  text = std::move(kept);
}

CodePage CodePageOfCharset(std::string_view charset) {
  return charset.empty() ? DefaultCodePage() : CharsetToCodePage(charset);
}

// The bytes an encoded word stands for; false when they cannot be recovered.
bool DecodeWordText(const EncodedWordMatch& word, Bytes& bytes) {
  if (EqualsNoCase(word.encoding, "B")) return Base64Decode(word.encoded, bytes);
  if (EqualsNoCase(word.encoding, "Q")) {
    std::string text = word.encoded;
    for (char& c : text) {
      if (c == '_') c = ' ';
    }
    bytes = DecodeQuotedPrintable(text);
    return true;
  }
  bytes = word.encoded;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool NeedsEncoding(std::string_view bytes) {
  for (char c : bytes) {
    const auto code = static_cast<unsigned char>(c);
    if (code == '\t' || code == ' ') continue;
    if (code < 33 || code == '=' || code > 162) return true;
  }
  return false;
}

// RFC 2047 "Q": the letters, digits and "!*+-/" stand for themselves (they are allowed in
// every place a word may appear), a blank is "_", every other byte "=" and two hex digits.
bool IsQLiteral(unsigned char code) {
  return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') ||
         (code >= '0' && code <= '9') || code == '!' || code == '*' || code == '+' ||
         code == '-' || code == '/';
}

std::string QEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const auto code = static_cast<unsigned char>(c);
    if (IsQLiteral(code)) {
      out += c;
    } else if (code == ' ') {
      out += '_';
    } else {
      out += '=';
      out += kHex[code >> 4];
      out += kHex[code & 0x0F];
    }
  }
  return out;
}

std::size_t EncodedLength(std::string_view bytes, bool base64) {
  if (base64) return (bytes.size() + 2) / 3 * 4;
  std::size_t length = 0;
  for (char c : bytes) length += IsQLiteral(static_cast<unsigned char>(c)) || c == ' ' ? 1 : 3;
  return length;
}

// The text cut into runs of whole characters whose encoded form fits `room`. Each run is
// converted as a whole, so a stateful charset (ISO-2022) starts and ends every run in its
// initial state. A single character that does not fit still makes a run of its own.
std::vector<Bytes> SplitIntoRuns(std::string_view text, CodePage codePage, bool base64,
                                 std::size_t room) {
  std::vector<Bytes> runs;
  Bytes current;
  std::size_t start = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t next = pos + CharLengthAt(text, pos);
    Bytes candidate;
    EncodeCodePage(text.substr(start, next - start), codePage, candidate);
    if (pos > start && EncodedLength(candidate, base64) > room) {
      runs.push_back(std::move(current));
      current.clear();
      start = pos;
      continue;  // the character again, now starting a run
    }
    current = std::move(candidate);
    pos = next;
  }
  runs.push_back(std::move(current));
  return runs;
}

}  // namespace

bool FindEncodedWord(std::string_view text, EncodedWordMatch& match) {
  match = EncodedWordMatch{};
  const std::size_t start = text.find("=?");
  if (start == std::string_view::npos) {
    match.after = text;
    return false;
  }
  match.before = text.substr(0, start);
  std::size_t tokenStart = start + 2;
  int marks = 0;
  for (std::size_t i = tokenStart; i < text.size(); ++i) {
    if (text[i] != '?') continue;
    const std::string_view token = text.substr(tokenStart, i - tokenStart);
    ++marks;
    if (marks == 1) {
      match.charset = token;
    } else if (marks == 2) {
      match.encoding = token;
    } else {
      if (i + 1 < text.size() && text[i + 1] == '=') {
        match.encoded = token;
        match.after = text.substr(i + 2);
        return true;
      }
      break;
    }
    tokenStart = i + 1;
  }
  match.charset.clear();
  match.encoding.clear();
  match.after = text.substr(start);
  return false;
}

std::string DecodeEncodedWords(std::string_view text) {
  std::string result;
  std::string rest(text);
  EncodedWordMatch word;
  while (FindEncodedWord(rest, word)) {
    RemoveFolding(word.before);
    RemoveFolding(word.after);
    RemoveFolding(word.encoded);
    result += word.before;
    Bytes bytes;
    if (DecodeWordText(word, bytes)) {
      result += DecodeCodePage(bytes, CodePageOfCharset(word.charset));
    } else {
      result += "=?" + word.charset + "?" + word.encoding + "?" + word.encoded + "?=";
    }
    rest = std::move(word.after);
  }
  return result + word.before + word.after;
}

Bytes DecodeQuotedPrintable(std::string_view text) {
  Bytes out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '=') {
      out += text[i++];
      continue;
    }
    std::size_t next = i + 1;
    while (next < text.size() && IsLineBlank(text[next])) ++next;
    if (next < text.size() && text[next] == '\n') {  // soft line break
      i = next + 1;
    } else if (next > i + 1) {  // "=" and trailing blanks
      i = next;
    } else if (i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      out += static_cast<char>(high < 0 || low < 0 ? 0 : high * 16 + low);
      i += 3;
    } else {  // a cut-off escape at the end stays as written
      out += text.substr(i);
      break;
    }
  }
  return out;
}

std::string EncodeHeaderValue(std::string_view charset, std::string_view text,
                              std::string_view encoding) {
  const CodePage codePage = CodePageOfCharset(charset);
  Bytes bytes;
  EncodeCodePage(text, codePage, bytes);
  if (!NeedsEncoding(bytes)) return std::string(text);

  const bool base64 = EqualsNoCase(encoding, "B");
  const std::string prefix = "=?" + CodePageToCharset(codePage) + (base64 ? "?B?" : "?Q?");
  const std::size_t frame = prefix.size() + 2;
  const std::size_t room =
      std::min(frame < kMaxWordLength ? kMaxWordLength - frame : 0, kMaxEncodedText);

  std::string result;
  for (const Bytes& run : SplitIntoRuns(text, codePage, base64, room)) {
    if (!result.empty()) result += kWordSeparator;
    result += prefix + (base64 ? Base64Encode(run) : QEncode(run)) + "?=";
  }
  return result;
}

}  // namespace pv
