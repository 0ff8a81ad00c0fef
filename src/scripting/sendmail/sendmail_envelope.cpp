#include "scripting/sendmail/sendmail_envelope.h"

#include <algorithm>
#include <functional>

#include "support/text.h"
#include "transport/recipients.h"

namespace pv {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// A bare local name in a mailbox text ("root", "Name <root>", "root (Comment)") and the text
// around it.
struct BareName {
  std::string before, local, after;
  bool angle = false;
};

bool FindBareName(std::string_view text, BareName& bare) {
  std::string_view local;
  const std::size_t open = text.rfind('<');
  if (open != npos) {
    const std::size_t close = text.find('>', open);
    if (close == npos) return false;
    bare.angle = true;
    bare.before = std::string(Trim(text.substr(0, open), " \t"));
    bare.after = std::string(Trim(text.substr(close + 1), " \t"));
    local = Trim(text.substr(open + 1, close - open - 1), " \t");
  } else {
    const std::size_t paren = text.find('(');
    local = Trim(text.substr(0, paren), " \t");
    if (paren != npos) bare.after = std::string(text.substr(paren));
  }
  if (local.empty() || local.find('@') != npos) return false;
  if (!CheckMailboxAddress(std::string(local) + "@localhost").empty()) return false;
  bare.local = std::string(local);
  return true;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ", ") + item;
  return list;
}

// The mailbox text with its bare name replaced by the addresses; with several, the list alone.
std::string Replaced(const BareName& bare, const std::vector<std::string>& addresses) {
  if (addresses.size() != 1) return JoinList(addresses);
  const std::string& address = addresses.front();
  const std::string after = bare.after.empty() ? "" : " " + bare.after;
  if (!bare.angle) return address + after;
  return (bare.before.empty() ? "" : bare.before + " ") + "<" + address + ">" + after;
}

// Gives the addresses for a bare name, or why there are none.
using NameMapper = std::function<std::string(const std::string&, std::vector<std::string>&)>;

std::string MapToHost(const std::string& local, const LocalNames& names,
                      std::vector<std::string>& out) {
  const std::string address = local + "@" + std::string(Trim(names.senderHostName));
  if (Trim(names.senderHostName).empty())
    return "\"" + local + "\" is no address, and SenderHostName is empty";
  const std::string error = CheckMailboxAddress(address);
  if (!error.empty()) return "\"" + local + "\" cannot be made an address: " + error;
  out.push_back(address);
  return {};
}

std::string MapToLocalRecipients(const std::string& local, const LocalNames& names,
                                 std::vector<std::string>& out) {
  if (Trim(names.localRecipientsTo).empty()) return MapToHost(local, names, out);
  for (const RecipientGroup& group : GroupRecipientItems(names.localRecipientsTo)) {
    if (!group.ok()) return "LocalRecipientsTo: " + group.error;
    out.push_back(RecipientText(group.items));
  }
  return out.empty() ? "LocalRecipientsTo names no address" : "";
}

AddressList Qualify(std::string_view list, const NameMapper& map) {
  std::vector<std::string> items;
  for (const RecipientGroup& group : GroupRecipientItems(list)) {
    std::string text = RecipientText(group.items);
    BareName bare;
    if (!group.ok() && FindBareName(text, bare)) {
      std::vector<std::string> addresses;
      std::string error = map(bare.local, addresses);
      if (!error.empty()) return {"", std::move(error)};
      text = Replaced(bare, addresses);
    }
    items.push_back(std::move(text));
  }
  return {JoinList(items), ""};
}

struct Recipient {
  std::string key;
  std::string text;   // as written, folding removed
  std::string name;   // what the served list holds: the address, or the text
  std::string error;  // "" for a valid mailbox
};

std::vector<Recipient> RecipientsOf(std::string_view list) {
  std::vector<Recipient> out;
  for (const RecipientGroup& group : GroupRecipientItems(list)) {
    std::string text = RecipientText(group.items);
    std::string key = RecipientKey(group.address, text);
    std::string name = group.ok() ? group.address : text;
    out.push_back({std::move(key), std::move(text), std::move(name), group.error});
  }
  return out;
}

bool Holds(const std::vector<Recipient>& list, const std::string& key) {
  return std::any_of(list.begin(), list.end(), [&](const Recipient& r) { return r.key == key; });
}

// A group without members ("undisclosed-recipients:;"): no one to send to.
bool IsEmptyGroup(std::string_view text) {
  return text.size() > 2 && text.substr(text.size() - 2) == ":;";
}

std::string JoinValues(std::initializer_list<std::string_view> values) {
  std::string joined;
  for (std::string_view v : values)
    if (!Trim(v).empty()) joined += (joined.empty() ? "" : ", ") + std::string(v);
  return joined;
}

// The argument recipients, qualified; the error says which argument is wrong.
std::string ArgumentRecipients(const std::vector<std::string>& arguments,
                               const LocalNames& names, std::vector<Recipient>& out) {
  for (const std::string& argument : arguments) {
    const AddressList list = QualifyRecipients(argument, names);
    if (!list.ok()) return list.error;
    for (Recipient& r : RecipientsOf(list.value)) {
      if (!r.error.empty()) return "recipient \"" + r.text + "\": " + r.error;
      if (!Holds(out, r.key)) out.push_back(std::move(r));
    }
  }
  return {};
}

}  // namespace

AddressList QualifyRecipients(std::string_view list, const LocalNames& names) {
  return Qualify(list, [&](const std::string& local, std::vector<std::string>& out) {
    return MapToLocalRecipients(local, names, out);
  });
}

AddressList QualifySenders(std::string_view list, const LocalNames& names) {
  return Qualify(list, [&](const std::string& local, std::vector<std::string>& out) {
    return MapToHost(local, names, out);
  });
}

Envelope MapEnvelope(const RecipientHeaders& headers, const std::vector<std::string>& arguments,
                     bool recipientsFromHeaders, const LocalNames& names) {
  Envelope env;
  const auto fail = [&](std::string error, bool usage) {
    env.error = std::move(error);
    env.usageError = usage;
    return env;
  };
  AddressList to = QualifyRecipients(headers.to, names), cc = QualifyRecipients(headers.cc, names),
              bcc = QualifyRecipients(headers.bcc, names);
  for (const AddressList* list : {&to, &cc, &bcc})
    if (!list->ok()) return fail(list->error, false);
  std::vector<Recipient> wanted;
  std::string error = ArgumentRecipients(arguments, names, wanted);
  if (!error.empty()) return fail(std::move(error), true);
  if (!recipientsFromHeaders && wanted.empty())
    return fail("no recipients: name them as arguments, or use -t", true);

  // The header's recipients: with -t each is wanted; without, those not wanted are served.
  std::vector<Recipient> inHeader, served;
  for (Recipient& r : RecipientsOf(JoinValues({to.value, cc.value, bcc.value}))) {
    const bool skip = IsEmptyGroup(r.text) || (!recipientsFromHeaders && !Holds(wanted, r.key));
    if (!skip && !r.error.empty())
      return fail("recipient \"" + r.text + "\" in the header: " + r.error, false);
    if (skip && !Holds(served, r.key)) served.push_back(r);
    if (!skip) inHeader.push_back(std::move(r));
  }
  std::vector<std::string> extra;
  for (const Recipient& r : wanted)
    if (!Holds(inHeader, r.key)) extra.push_back(r.text);
  if (inHeader.empty() && extra.empty()) return fail("no recipients: the header names none", false);

  env.to = to.value;
  env.cc = cc.value;
  env.bcc = JoinValues({bcc.value, JoinList(extra)});
  if (Trim(env.to).empty()) {
    env.to = std::string(kUndisclosedRecipients);
    if (!Holds(served, env.to)) served.push_back({env.to, env.to, env.to, ""});
  }
  std::vector<std::string> servedNames;
  for (const Recipient& r : served) servedNames.push_back(r.name);
  env.served = JoinList(servedNames);
  return env;
}

}  // namespace pv
