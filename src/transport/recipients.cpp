#include "transport/recipients.h"

#include "support/ip_literal.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr std::size_t kMaxAddressLength = 254;
constexpr std::size_t kMaxLocalPartLength = 64;
constexpr std::size_t kMaxLabelLength = 63;

std::string Invalid(std::string_view why) { return "invalid address: " + std::string(why); }

// The role of one character of a mailbox text.
enum class Role {
  Plain,        // outside quotes and comments
  Quoted,       // content of a quoted string (an escaped character included)
  QuoteMark,    // the opening or closing double quote
  QuoteEscape,  // the backslash of a quoted pair inside a quoted string
  Comment,      // anything inside a comment, its parentheses included
};

// Walks a mailbox text character by character. Quoted pairs count inside quoted strings and
// comments only, as RFC 5322 has them.
class Walker {
 public:
  Role Step(char c) {
    if (escape_) {
      escape_ = false;
      return quote_ ? Role::Quoted : Role::Comment;
    }
    if (quote_) {
      if (c == '\\') escape_ = true;
      if (c == '"') quote_ = false;
      return c == '\\' ? Role::QuoteEscape : c == '"' ? Role::QuoteMark : Role::Quoted;
    }
    if (comment_ > 0) {
      if (c == '\\') escape_ = true;
      else if (c == '(') ++comment_;
      else if (c == ')') --comment_;
      return Role::Comment;
    }
    if (c == '"') {
      quote_ = true;
      return Role::QuoteMark;
    }
    if (c == '(') {
      comment_ = 1;
      return Role::Comment;
    }
    return Role::Plain;
  }
  bool inQuote() const { return quote_; }
  bool inComment() const { return comment_ > 0; }

 private:
  bool quote_ = false;
  int comment_ = 0;
  bool escape_ = false;
};

bool IsWsp(char c) { return c == ' ' || c == '\t'; }

// Removes folding: CR LF together with the blanks and tabs that follow it.
std::string RemoveFolding(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 2 < text.size() && text[i + 1] == '\n' && IsWsp(text[i + 2])) {
      i += 2;
      while (i + 1 < text.size() && IsWsp(text[i + 1])) ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

// The address part of a mailbox text: comments and folding removed, outer blanks trimmed.
std::string CleanAddress(std::string_view text) {
  std::string kept;
  Walker walker;
  for (char c : text)
    if (walker.Step(c) != Role::Comment) kept += c;
  return std::string(Trim(RemoveFolding(kept), " \t"));
}

// The display name: quotes and quoted pairs resolved, comments dropped, white space of any
// kind collapsed to single blanks.
std::string CleanDisplayName(std::string_view text) {
  std::string name;
  Walker walker;
  for (char c : text) {
    const Role role = walker.Step(c);
    if (role == Role::QuoteMark || role == Role::QuoteEscape) continue;
    const bool space = role == Role::Comment || IsWsp(c) || c == '\r' || c == '\n';
    if (!space) name += c;
    else if (!name.empty() && name.back() != ' ') name += ' ';
  }
  return std::string(Trim(name, " "));
}

bool IsAtomChar(unsigned char c) {
  static constexpr std::string_view kAtomMarks = "!#$%&'*+-/=?^_`{|}~";
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c >= 0x80 || kAtomMarks.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string CheckDotAtomLocalPart(std::string_view local) {
  if (local.front() == '.' || local.back() == '.' || local.find("..") != std::string_view::npos)
    return Invalid("misplaced \".\" in local part");
  for (char c : local) {
    if (IsWsp(c)) return Invalid("blank");
    if (c != '.' && !IsAtomChar(static_cast<unsigned char>(c)))
      return Invalid(std::string("character '") + c + "' not allowed in local part");
  }
  return {};
}

std::string CheckAddressLiteral(std::string_view literal) {
  return IsAddressLiteral(literal) ? std::string() : Invalid("bad address literal");
}

std::string CheckLabel(std::string_view label) {
  if (label.empty()) return Invalid("empty label in domain");
  if (label.size() > kMaxLabelLength) return Invalid("domain label longer than 63 characters");
  if (label.front() == '-' || label.back() == '-') return Invalid("misplaced \"-\" in domain");
  for (unsigned char c : label) {
    if (IsWsp(static_cast<char>(c))) return Invalid("blank");
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '-' || c >= 0x80;
    if (!ok) return Invalid(std::string("character '") + static_cast<char>(c) +
                            "' not allowed in domain");
  }
  return {};
}

std::string CheckDomain(std::string_view domain) {
  if (domain.empty()) return Invalid("empty domain");
  if (domain.front() == '[') return CheckAddressLiteral(domain);
  for (const std::string& label : Split(domain, '.')) {
    std::string error = CheckLabel(label);
    if (!error.empty()) return error;
  }
  return {};
}

// The end of a quoted local part that starts at 0 (the position after its closing quote), or
// npos when the quote is not closed.
std::size_t EndOfQuotedLocalPart(std::string_view address) {
  for (std::size_t i = 1; i < address.size(); ++i) {
    if (address[i] == '\\') ++i;
    else if (address[i] == '"') return i + 1;
  }
  return std::string_view::npos;
}

std::string CheckCharacters(std::string_view address) {
  for (unsigned char c : address) {
    if (c == '\r' || c == '\n') return Invalid("line break");
    if (c == '<' || c == '>') return Invalid("\"<\" or \">\"");
    // A TAB too, quoted or not: the address goes into SMTP commands as it is.
    if (c < 0x20 || c == 0x7F) return Invalid("control character");
  }
  return {};
}

// Splits address at its "@" into local part and domain; the error says why it cannot.
std::string SplitAtSign(std::string_view address, std::string_view& local,
                        std::string_view& domain) {
  std::size_t at = std::string_view::npos;
  if (address.front() == '"') {
    const std::size_t end = EndOfQuotedLocalPart(address);
    if (end == std::string_view::npos) return Invalid("unclosed quote");
    if (end == address.size() || address[end] != '@') {
      return address.find('@', end) == std::string_view::npos
                 ? Invalid("no \"@\"") : Invalid("text after the quoted local part");
    }
    at = end;
  } else {
    at = address.find('@');
    if (at == std::string_view::npos) return Invalid("no \"@\"");
  }
  local = address.substr(0, at);
  domain = address.substr(at + 1);
  if (domain.find('@') != std::string_view::npos) return Invalid("more than one \"@\"");
  return {};
}

RecipientGroup MakeGroup(std::vector<std::string> items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
  Mailbox mailbox = ParseMailbox(text);
  return {std::move(items), std::move(mailbox.address), std::move(mailbox.displayName),
          std::move(mailbox.error)};
}

bool IsBlankItem(std::string_view item) {
  return item.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

std::string CheckMailboxAddress(std::string_view address) {
  if (address.empty()) return Invalid("empty");
  if (address.size() > kMaxAddressLength) return Invalid("longer than 254 characters");
  std::string error = CheckCharacters(address);
  if (!error.empty()) return error;
  std::string_view local, domain;
  error = SplitAtSign(address, local, domain);
  if (!error.empty()) return error;
  if (local.empty()) return Invalid("empty local part");
  if (local.size() > kMaxLocalPartLength) return Invalid("local part longer than 64 characters");
  if (local.front() != '"') {
    error = CheckDotAtomLocalPart(local);
    if (!error.empty()) return error;
  } else if (local.size() == 2) {
    return Invalid("empty local part");
  }
  return CheckDomain(domain);
}

Mailbox ParseMailbox(std::string_view text) {
  // A line break that is not folding, or any other control character, anywhere in the item
  // (display name included) makes it unusable: it could only be an attempt at injection.
  for (char c : RemoveFolding(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r' || c == '\n') return {"", "", Invalid("line break")};
    if ((u < 0x20 && c != '\t') || u == 0x7F) return {"", "", Invalid("control character")};
  }
  Walker walker;
  bool angle = false;
  std::size_t open = 0, lastOpen = std::string_view::npos, lastClose = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (walker.Step(text[i]) != Role::Plain) continue;
    if (text[i] == '<') {
      angle = true;
      open = i;
    } else if (text[i] == '>' && angle) {
      angle = false;
      lastOpen = open;
      lastClose = i;
    }
  }
  Mailbox mailbox;
  if (walker.inQuote()) mailbox.error = Invalid("unclosed quote");
  else if (walker.inComment()) mailbox.error = Invalid("unclosed comment");
  else if (angle) mailbox.error = Invalid("unclosed \"<\"");
  if (!mailbox.error.empty()) return mailbox;

  if (lastOpen == std::string_view::npos) {
    mailbox.address = CleanAddress(text);
  } else {
    mailbox.address = CleanAddress(text.substr(lastOpen + 1, lastClose - lastOpen - 1));
    mailbox.displayName = CleanDisplayName(text.substr(0, lastOpen));
  }
  mailbox.error = CheckMailboxAddress(mailbox.address);
  if (!mailbox.error.empty()) mailbox.address.clear();
  return mailbox;
}

std::vector<RecipientGroup> GroupRecipientItems(std::string_view commaList) {
  std::vector<RecipientGroup> groups;
  std::vector<std::string> pending;
  Walker walker;
  bool angle = false;
  for (std::string& item : Split(commaList, ',')) {
    // The comma that joined this item to the open group belongs to the group's text.
    if (!pending.empty()) walker.Step(',');
    for (char c : item) {
      if (walker.Step(c) != Role::Plain) continue;
      if (c == '<') angle = true;
      else if (c == '>') angle = false;
    }
    pending.push_back(std::move(item));
    if (walker.inQuote() || walker.inComment() || angle) continue;
    if (pending.size() > 1 || !IsBlankItem(pending.front()))
      groups.push_back(MakeGroup(std::move(pending)));
    pending.clear();
    walker = Walker();
  }
  // A group still open at the end of the list: its unbalanced syntax is its error.
  if (!pending.empty()) groups.push_back(MakeGroup(std::move(pending)));
  return groups;
}

std::string DomainOfAddress(std::string_view address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return {};
  const std::string_view domain = address.substr(at + 1);
  if (!domain.empty() && domain.front() == '[') return std::string(domain);
  return ToLowerAscii(domain);
}

std::string ExtractMailbox(std::string_view headerValue) {
  const std::vector<RecipientGroup> groups = GroupRecipientItems(headerValue);
  return groups.empty() ? std::string() : groups.front().address;
}

std::string RecipientText(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 0) text += ',';
    const std::string& item = items[i];
    for (std::size_t k = 0; k < item.size(); ++k) {
      if (item[k] == '\r' && k + 1 < item.size() && item[k + 1] == '\n') {
        k += 1;
        while (k + 1 < item.size() && IsWsp(item[k + 1])) ++k;
        text += ' ';
        continue;
      }
      text += item[k];
    }
  }
  return std::string(Trim(text, " \t"));
}

std::string RecipientKey(std::string_view address, std::string_view text) {
  if (address.empty()) return std::string(text);
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return std::string(address);
  return std::string(address.substr(0, at + 1)) + DomainOfAddress(address);
}

}  // namespace pv
