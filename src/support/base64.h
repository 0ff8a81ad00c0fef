#pragma once
// Base64 (RFC 2045) without line breaks.
#include <string>
#include <string_view>

#include "support/text.h"

namespace pv {

// The Base64 text of bytes, padded with "=", on one line.
std::string Base64Encode(std::string_view bytes);
// Decodes Base64 text. Blanks, tabs and line breaks anywhere are ignored, and missing "="
// padding at the end is tolerated. False (out empty) for any other character, "=" that is not
// trailing padding, or a length that cannot come from whole bytes.
bool Base64Decode(std::string_view text, Bytes& out);

}  // namespace pv
