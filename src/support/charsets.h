#pragma once
// MIME charset names and the code-page numbers that the conversions of codepage.h take.
#include <string>
#include <string_view>

#include "support/codepage.h"

namespace pv {

// The code page of a MIME charset name, compared without regard to case; 0 for a name that
// the table does not list (code page 0 converts one character per byte).
CodePage CharsetToCodePage(std::string_view name);
// The charset name written into MIME words for a code page; "" for a code page without one.
std::string CodePageToCharset(CodePage codePage);

}  // namespace pv
