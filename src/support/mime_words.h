#pragma once
// RFC 2047 encoded words ("=?" charset "?" encoding "?" text "?=") in mail header values.
#include <string>
#include <string_view>

#include "support/text.h"

namespace pv {

// The parts of a header value around its first encoded word.
struct EncodedWordMatch {
  std::string charset;   // as written in the word
  std::string encoding;  // as written ("B", "q", ...)
  std::string encoded;   // the text between the third "?" and the closing "?="
  std::string before;    // the value before the word
  std::string after;     // the value after the word
};

// Looks for the first encoded word. A word starts at the first "=?"; its charset and
// encoding end at the next two "?", and its text at the third "?", which must be followed by
// "=". Without a complete word the result is false, charset, encoding and encoded are empty,
// and before + after is the whole text (after starts at the "=?" that failed, if any).
bool FindEncodedWord(std::string_view text, EncodedWordMatch& match);

// The header value with every encoded word replaced by its text. Once a word is found, CR LF
// and tabs disappear from the whole value (folding between words); blanks stay. "B" and "Q"
// words (either case) are decoded in their charset (the system code page when the charset is
// empty); a word in another encoding contributes its text as it stands, in its charset. A "B"
// word whose text is not Base64 is kept as written.
std::string DecodeEncodedWords(std::string_view text);

// Quoted-printable text to bytes: "=" and two hexadecimal digits (either case) give that byte,
// "=" and two other characters give byte 0; "=" followed by blanks, tabs or CRs up to a LF is
// a soft line break and vanishes, and before anything else the "=" and those characters
// vanish. An "=" with fewer than two characters after it is kept as it stands.
Bytes DecodeQuotedPrintable(std::string_view text);

// The header value as encoded words in the charset (the system code page when empty), or the
// text unchanged when its bytes in that charset hold nothing but tab, blank and the codes 33
// to 162 other than "=". Encoding "B" (either case) gives Base64 words, any other encoding
// RFC 2047 "Q" words. Each word holds whole characters and at most 75 characters, decodes on
// its own, and words are joined by CR LF TAB.
std::string EncodeHeaderValue(std::string_view charset, std::string_view text,
                              std::string_view encoding);

}  // namespace pv
