#pragma once
// Recipient items of a comma list and the mailboxes they name.
//
// The transport receives its recipients as the To, Cc and Bcc values of a mail header split at
// every ",". A comma inside a quoted display name, a comment or an angle address cuts one
// mailbox into several items; grouping joins them again while keeping every item as given, so
// that the caller can report and remove served items by exact comparison.
//
// Every address that comes out of here is a validated mailbox: no line break, no control
// character, no blank outside a quoted local part, no "<" or ">". Only such addresses may
// reach an SMTP command.
#include <string>
#include <string_view>
#include <vector>

namespace pv {

struct RecipientGroup {
  std::vector<std::string> items;  // the original comma items, untrimmed, in order
  std::string address;             // the mailbox ("a@b.example"); "" when error is set
  std::string displayName;         // unquoted, comments and folding removed; may be ""
  std::string error;               // "" for a valid mailbox, else "invalid address: ..."
  bool ok() const { return error.empty(); }
};

// Splits the list at "," and joins consecutive items while a quote, a comment or an angle
// address is open. Items that are empty or hold only blanks and folding make no group.
std::vector<RecipientGroup> GroupRecipientItems(std::string_view commaList);

// One mailbox as written in a header: "a@b.example", "Name <a@b.example>",
// "\"Doe, John\" <j@x.example>", "a@b.example (Accounts)", possibly folded. The last angle
// address outside quotes and comments wins; without one, the text less comments and folding
// is the address.
struct Mailbox {
  std::string address;
  std::string displayName;
  std::string error;
};
Mailbox ParseMailbox(std::string_view text);

// "" when address is a valid mailbox, else why not ("invalid address: no \"@\"").
std::string CheckMailboxAddress(std::string_view address);

// The domain of a mailbox, ASCII letters lower-cased; an address literal ("[1.2.3.4]") as
// written. "" when the address has no "@".
std::string DomainOfAddress(std::string_view address);

// The address of the first mailbox of a From header value; "" when it has no valid one.
std::string ExtractMailbox(std::string_view headerValue);

// A group's items as one readable text: joined by ",", each folding (CR LF and the blanks after
// it) one blank, outer blanks trimmed: "\"Doe, John\" <j@x.example>".
std::string RecipientText(const std::vector<std::string>& items);

// What tells two recipients apart: the address with the ASCII letters of its domain
// lower-cased (the local part exact), or the text when there is no valid address.
std::string RecipientKey(std::string_view address, std::string_view text);

}  // namespace pv
