#pragma once
// Texts and bytes.
//
// Every text inside Postvane is a std::string holding UTF-8. Byte sequences (file contents,
// the bytes of a code page) are std::string too; the name `Bytes` marks them. A text may also
// hold lone UTF-16 surrogates in their generalised three-byte form, so that any sequence of
// 16-bit units read from a file survives a round trip unchanged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

using Bytes = std::string;

// ASCII case folding: names, keys, extensions and switches compare without regard to case.
std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
// Position of needle in text at or after from, ignoring ASCII case; npos when absent.
std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from = 0);
std::string_view Trim(std::string_view text, std::string_view blanks = " \t\r\n");
// text as an RFC 5322 quoted string: in double quotes, with " and \ escaped by a backslash.
std::string QuoteString(std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);
// The pieces of text between occurrences of separator (a non-empty string); views into text.
std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator);

// Code points of a text (lone surrogates included) and back.
std::vector<char32_t> CodePoints(std::string_view text);
void AppendCodePoint(std::string& out, char32_t cp);
// The character that starts at text[pos] and its length in bytes (a stray byte: U+FFFD, 1).
char32_t CodePointAt(std::string_view text, std::size_t pos, std::size_t& length);
// Length in bytes of the character that starts at text[pos] (1 for a stray byte).
std::size_t CharLengthAt(std::string_view text, std::size_t pos);

// UTF-8 as a byte encoding. EncodeUtf8 reserves `reserve` zero bytes in front (for a
// byte-order mark). It fails (false) for an empty text, and for a text with a lone surrogate,
// in which case the output is the text's UTF-16 units, low byte first.
bool EncodeUtf8(std::string_view text, Bytes& out, std::size_t reserve = 0);
// Decodes bytes from position skip on. Malformed sequences become U+FFFD each.
std::string DecodeUtf8(std::string_view bytes, std::size_t skip = 0);
// Whether bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// UTF-16 in either byte order; `reserve` zero bytes in front. False for an empty text.
bool EncodeUtf16(std::string_view text, Bytes& out, std::size_t reserve, bool bigEndian);
// Bytes from position skip on, two per unit; "" when fewer than 2 follow skip. An odd last
// byte is taken as the low byte of a final unit.
std::string DecodeUtf16(std::string_view bytes, bool bigEndian, std::size_t skip = 0);

// One byte per character: the character's low byte (of its UTF-16 unit).
Bytes NarrowToBytes(std::string_view text);
// One character per byte, of the same value (U+0000 to U+00FF).
std::string WidenBytes(std::string_view bytes);

}  // namespace pv
