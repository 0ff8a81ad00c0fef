#pragma once
// Header values of a mail given to `sendmail` made fit for a spool file: ASCII only, no
// control characters, and no continuation line that the spool reader would take for a header
// of its own (it starts a new header at any line that holds a ":").
#include <string>
#include <string_view>

#include "scripting/sendmail/sendmail_envelope.h"

namespace pv {

bool HasEightBit(std::string_view bytes);

// The bytes as text: UTF-8 when they are, else code page 1252.
std::string BytesAsText(std::string_view bytes);

// The value of an unstructured header ("Subject", "X-Mailer", ...): trimmed; 8-bit values as
// UTF-8 "B" encoded words; folded lines kept unless one holds a ":", which unfolds the value.
// Content-* headers with 8-bit characters and control characters anywhere are errors.
struct CleanValue {
  std::string value;
  std::string error;
  bool ok() const { return error.empty(); }
};
CleanValue CleanHeaderValue(std::string_view name, std::string_view value);

// An address list (one line, as the qualification gives it) with 8-bit display names as
// encoded words. Addresses with 8-bit characters are errors.
AddressList EncodeDisplayNames(std::string_view list);

// "Name <a@x.example>", the name quoted or encoded as needed; the address alone without name.
std::string MailboxText(std::string_view name, std::string_view address);

}  // namespace pv
