#pragma once
// Code-page conversions addressed by Windows code-page numbers.
//
// 1252 and 65001 are built in; code page 1252 maps every byte to a character and back, so a
// file read and rewritten as "ansi-1031" keeps its bytes exactly. Other numbers go through
// iconv (1250-1258, 2859x/28605, 874, 932, 936, 949, 950, 866, 852, 20866, 21866, 5022x,
// 51932, 65000, ...). Code page 0 is never a known one.
#include <cstdint>

#include "support/text.h"

namespace pv {

using CodePage = std::uint32_t;

inline constexpr CodePage kCodePage1252 = 1252;
inline constexpr CodePage kCodePageUtf8 = 65001;

// Whether the code page can be converted (built in, or iconv knows it).
bool IsValidCodePage(CodePage codePage);
// The system default ("ansi") code page: the locale's codeset; a plain ASCII locale (C,
// POSIX) counts as UTF-8.
CodePage DefaultCodePage();
// Text to bytes. Unknown code pages: 65001 as UTF-8, any other (0 included) one byte per
// character. Characters that the code page lacks become "?". True when a known code page
// produced bytes.
bool EncodeCodePage(std::string_view text, CodePage codePage, Bytes& out);
// The code page 1252 byte of one character; "?" for a character the code page lacks.
char Encode1252Char(char32_t cp);
// The code page 1252 bytes of the text appended to `out` (so pieces go into one buffer).
void Append1252(std::string_view text, Bytes& out);
// Bytes to text. Unknown code pages: 65001 as UTF-8, any other one character per byte.
// Invalid byte sequences become U+FFFD.
std::string DecodeCodePage(std::string_view bytes, CodePage codePage);

// The iconv name of a code page, "" when it has none.
const char* IconvNameOf(CodePage codePage);

}  // namespace pv
