#pragma once
// The recipients of a spool file across its attempts: who was served, who was refused for
// good (with the server's reply), and who is still due. Recipients are told apart by their
// address (RecipientKey: the local part exact, the domain without regard to case), whatever
// blanks, folding, display names, comments or quotes surround them in the header.
#include <string>
#include <string_view>
#include <vector>

namespace pv {

struct LedgerEntry {
  std::string key;    // RecipientKey
  std::string name;   // the address, or the text of an item without a valid one
  std::string reply;  // the server's reply; "" for the served
  bool address = true;  // name is a valid address
};

// One recipient still due: its readable text ("Name <a@x.example>") and key.
struct DueRecipient {
  std::string key;
  std::string text;
};

class RecipientLedger {
 public:
  // From the values of X-pvx-SuccessAddresses and X-pvx-RefusedAddresses. A served list of
  // older files holds the raw comma items of To, Cc and Bcc; they are read by address too.
  static RecipientLedger FromHeaders(std::string_view served, std::string_view refused);

  // Adds the served recipients of an attempt (a comma list of their addresses).
  void AddServed(std::string_view list);
  // Adds the transport's refused entries ("name TAB reply", separated by character 0).
  void AddRefused(std::string_view entries);

  // The mailboxes of the address lists in their order, without repetitions and without those
  // served or refused.
  std::vector<DueRecipient> Due(const std::vector<std::string_view>& lists) const;

  bool AnyServed() const { return !served_.empty(); }
  bool AnyRefused() const { return !refused_.empty(); }
  // "a@x.example, b@y.example"
  std::string ServedHeaderValue() const;
  // "a@x.example (550 5.1.1 no such user), b@y.example (...)": an address list whose comments
  // keep each reply (parentheses and backslashes escaped, control characters removed).
  std::string RefusedHeaderValue() const;
  // One line "name: reply" per refused recipient.
  std::string RefusedProtocol() const;

 private:
  static void Add(std::vector<LedgerEntry>& list, LedgerEntry entry);
  bool Holds(const std::string& key) const;

  std::vector<LedgerEntry> served_;
  std::vector<LedgerEntry> refused_;
};

// The due recipients as one comma list: "Name <a@x.example>, b@y.example".
std::string JoinDue(const std::vector<DueRecipient>& due);

}  // namespace pv
