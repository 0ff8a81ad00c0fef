#include "engine/recipient_ledger.h"

#include <algorithm>

#include "support/text.h"
#include "transport/recipients.h"

namespace pv {
namespace {

// Where the last comment outside quotes begins and ends ("(" and ")"); npos when none.
std::pair<std::size_t, std::size_t> LastComment(std::string_view text) {
  std::pair<std::size_t, std::size_t> last{std::string_view::npos, std::string_view::npos};
  bool quoted = false, escaped = false;
  int depth = 0;
  std::size_t open = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (escaped) { escaped = false; continue; }
    if (c == '\\' && (quoted || depth > 0)) { escaped = true; continue; }
    if (depth == 0 && c == '"') { quoted = !quoted; continue; }
    if (quoted) continue;
    if (c == '(' && depth++ == 0) open = i;
    else if (c == ')' && depth > 0 && --depth == 0) last = {open, i};
  }
  return last;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// The reply as a comment's content: control characters become blanks, "(", ")" and "\"
// are escaped.
std::string CommentText(std::string_view reply) {
  std::string out;
  for (char c : reply) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Unquoted(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  return Unescape(std::string_view(text).substr(1, text.size() - 2));
}

// A served list entry: the mailbox's address, or its text.
LedgerEntry ServedEntryOf(const RecipientGroup& group) {
  const std::string text = RecipientText(group.items);
  const std::string name = group.ok() ? group.address : text;
  return {RecipientKey(group.address, text), name, "", group.ok()};
}

// A refused list entry: the reply is the last comment, the rest names the recipient.
LedgerEntry RefusedEntryOf(const RecipientGroup& group) {
  std::string text = RecipientText(group.items);
  std::string reply;
  const auto [open, close] = LastComment(text);
  if (open != std::string_view::npos) {
    reply = Unescape(std::string_view(text).substr(open + 1, close - open - 1));
    text = std::string(Trim(text.substr(0, open) + text.substr(close + 1), " \t"));
  }
  if (!group.ok()) text = Unquoted(text);
  const std::string name = group.ok() ? group.address : text;
  return {RecipientKey(group.address, text), name, reply, group.ok()};
}

std::vector<LedgerEntry> RefusedEntries(std::string_view entries) {
  std::vector<LedgerEntry> out;
  for (std::string_view entry : SplitAt(entries, std::string_view("\0", 1))) {
    if (entry.empty()) continue;
    const std::size_t tab = entry.find('\t');
    const std::string name(entry.substr(0, tab));
    const std::string reply(tab == std::string_view::npos ? "" : entry.substr(tab + 1));
    // The name is an address when it parses as itself; otherwise it is an item's text.
    const std::vector<RecipientGroup> groups = GroupRecipientItems(name);
    const bool address = groups.size() == 1 && groups.front().address == name;
    out.push_back({RecipientKey(address ? name : "", name), name, reply, address});
  }
  return out;
}

}  // namespace

RecipientLedger RecipientLedger::FromHeaders(std::string_view served, std::string_view refused) {
  RecipientLedger ledger;
  for (const RecipientGroup& group : GroupRecipientItems(served))
    Add(ledger.served_, ServedEntryOf(group));
  for (const RecipientGroup& group : GroupRecipientItems(refused))
    Add(ledger.refused_, RefusedEntryOf(group));
  return ledger;
}

void RecipientLedger::Add(std::vector<LedgerEntry>& list, LedgerEntry entry) {
  const auto same = [&](const LedgerEntry& e) { return e.key == entry.key; };
  const auto it = std::find_if(list.begin(), list.end(), same);
  if (it == list.end()) list.push_back(std::move(entry));
  else if (!entry.reply.empty()) it->reply = std::move(entry.reply);
}

void RecipientLedger::AddServed(std::string_view list) {
  for (const RecipientGroup& group : GroupRecipientItems(list)) Add(served_, ServedEntryOf(group));
}

void RecipientLedger::AddRefused(std::string_view entries) {
  for (LedgerEntry& e : RefusedEntries(entries)) Add(refused_, std::move(e));
}

bool RecipientLedger::Holds(const std::string& key) const {
  const auto same = [&](const LedgerEntry& e) { return e.key == key; };
  return std::any_of(served_.begin(), served_.end(), same) ||
         std::any_of(refused_.begin(), refused_.end(), same);
}

std::vector<DueRecipient> RecipientLedger::Due(const std::vector<std::string_view>& lists) const {
  std::vector<DueRecipient> due;
  for (std::string_view list : lists) {
    for (const RecipientGroup& group : GroupRecipientItems(list)) {
      const std::string text = RecipientText(group.items);
      std::string key = RecipientKey(group.address, text);
      const auto same = [&](const DueRecipient& d) { return d.key == key; };
      if (Holds(key) || std::any_of(due.begin(), due.end(), same)) continue;
      due.push_back({std::move(key), text});
    }
  }
  return due;
}

std::string RecipientLedger::ServedHeaderValue() const {
  std::string value;
  for (const LedgerEntry& e : served_) value += (value.empty() ? "" : ", ") + e.name;
  return value;
}

std::string RecipientLedger::RefusedHeaderValue() const {
  std::string value;
  for (const LedgerEntry& e : refused_) {
    if (!value.empty()) value += ", ";
    value += e.address ? e.name : QuoteString(e.name);
    const std::string comment = CommentText(e.reply);
    if (!comment.empty()) value += " (" + comment + ")";
  }
  return value;
}

std::string RecipientLedger::RefusedProtocol() const {
  std::string protocol;
  for (const LedgerEntry& e : refused_) protocol += e.name + ": " + e.reply + "\r\n";
  return protocol;
}

std::string JoinDue(const std::vector<DueRecipient>& due) {
  std::string list;
  for (const DueRecipient& d : due) list += (list.empty() ? "" : ", ") + d.text;
  return list;
}

}  // namespace pv
