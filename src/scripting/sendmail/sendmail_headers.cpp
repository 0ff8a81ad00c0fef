#include "scripting/sendmail/sendmail_headers.h"

#include <algorithm>

#include "support/codepage.h"
#include "support/mime_words.h"
#include "support/text.h"
#include "transport/recipients.h"

namespace pv {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F;
}

// Folding removed: each CR LF goes, the blanks after it stay.
std::string Unfolded(std::string_view value) {
  std::string out;
  for (std::string_view line : SplitAt(value, "\r\n")) out += line;
  return out;
}

bool ContinuationHoldsColon(std::string_view value) {
  const std::vector<std::string_view> lines = SplitAt(value, "\r\n");
  return std::any_of(lines.begin() + 1, lines.end(),
                     [](std::string_view line) { return line.find(':') != npos; });
}

std::string Encoded(std::string_view bytes) {
  return EncodeHeaderValue("UTF-8", Trim(BytesAsText(Unfolded(bytes)), " \t"), "B");
}

constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";

}  // namespace

bool HasEightBit(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string BytesAsText(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : DecodeCodePage(bytes, kCodePage1252);
}

CleanValue CleanHeaderValue(std::string_view name, std::string_view value) {
  const std::string_view v = Trim(value, " \t\r\n");
  if (std::any_of(v.begin(), v.end(), IsControl))
    return {"", "header \"" + std::string(name) + "\" holds a control character"};
  if (HasEightBit(v)) {
    if (StartsWithNoCase(name, "Content-"))
      return {"", "header \"" + std::string(name) + "\" holds 8-bit characters"};
    return {Encoded(v), ""};
  }
  return {ContinuationHoldsColon(v) ? Unfolded(v) : std::string(v), ""};
}

AddressList EncodeDisplayNames(std::string_view list) {
  std::string out;
  for (const RecipientGroup& group : GroupRecipientItems(list)) {
    std::string text = RecipientText(group.items);
    if (HasEightBit(text)) {
      if (!group.ok()) return {"", "\"" + text + "\": " + group.error};
      if (HasEightBit(group.address))
        return {"", "\"" + group.address + "\": addresses must be ASCII"};
      text = MailboxText(BytesAsText(group.displayName), group.address);
    }
    out += (out.empty() ? "" : ", ") + text;
  }
  return {out, ""};
}

std::string MailboxText(std::string_view name, std::string_view address) {
  const std::string_view n = Trim(name, " \t");
  if (n.empty()) return std::string(address);
  // The spool engine decodes encoded words wherever they stand and reads the address list
  // in the decoded text: a name with specials stays quoted around its words, so that a comma
  // in it does not split the list.
  const bool special = n.find_first_of(kSpecials) != npos;
  std::string shown = HasEightBit(n) ? Encoded(n) : special ? QuoteString(n) : std::string(n);
  if (special && HasEightBit(n)) shown = "\"" + shown + "\"";
  return shown + " <" + std::string(address) + ">";
}

}  // namespace pv
