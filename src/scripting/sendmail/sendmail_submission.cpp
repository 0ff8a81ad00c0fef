#include "scripting/sendmail/sendmail_submission.h"

#include "scripting/sendmail/sendmail_envelope.h"
#include "scripting/sendmail/sendmail_headers.h"
#include "support/text.h"
#include "transport/mail_composer.h"
#include "transport/recipients.h"

namespace pv {
namespace {

// The mail's header sorted by what the front end does with each line.
struct Sorted {
  std::vector<HeaderField> kept;  // every other header, in its order, values cleaned
  RecipientHeaders recipients;
  std::string from, subject, sendAfter, returnTo;
  bool hasSubject = false, hasMimeVersion = false, hasDate = false, hasMessageId = false;
  bool hasContentType = false, hasTransferEncoding = false;
  std::string error;
};

void Append(std::string& list, std::string_view value) {
  if (Trim(value).empty()) return;
  if (!Trim(list).empty()) list += ", ";
  list += Trim(value, " \t\r\n");
}

// Sorts one header; false when it is dropped.
bool SortHeader(const HeaderField& h, const std::string& value, Sorted& s) {
  const std::string key = ToLowerAscii(Trim(h.name));
  if (key == "from") Append(s.from, h.value);
  else if (key == "to") Append(s.recipients.to, h.value);
  else if (key == "cc") Append(s.recipients.cc, h.value);
  else if (key == "bcc") Append(s.recipients.bcc, h.value);
  else if (key == "subject") {
    if (!s.hasSubject) s.subject = value;
    s.hasSubject = true;
  } else if (key == "x-pvx-sendafter") s.sendAfter = value;
  else if (key == "x-pvx-returnto") s.returnTo = value;
  else if (StartsWithNoCase(key, "x-pvx-")) {}  // the spooler's own marks are its own
  else if (key == "mime-version" && value.empty()) {}
  else {
    s.hasMimeVersion |= key == "mime-version";
    s.hasDate |= key == "date";
    s.hasMessageId |= key == "message-id";
    s.hasContentType |= key == "content-type";
    s.hasTransferEncoding |= key == "content-transfer-encoding";
    return true;
  }
  return false;
}

Sorted SortHeaders(const std::vector<HeaderField>& headers) {
  Sorted s;
  for (const HeaderField& h : headers) {
    // Address lists take the value as it came (their display names are encoded later); the
    // check for control characters holds for them too.
    CleanValue clean = CleanHeaderValue(h.name, h.value);
    if (!clean.ok()) {
      s.error = std::move(clean.error);
      return s;
    }
    if (SortHeader(h, clean.value, s)) s.kept.push_back({std::string(Trim(h.name)), clean.value});
  }
  return s;
}

LocalNames NamesOf(const SendmailContext& c) { return {c.senderHostName, c.localRecipientsTo}; }

// The From of a mail that has none: -F and -f, else $EMAIL, else user@SenderHostName.
AddressList DefaultFrom(const SendmailOptions& o, const SendmailContext& c) {
  const Mailbox email = ParseMailbox(c.email);
  if (!o.sender.empty()) return {MailboxText(o.fullName, o.sender), ""};
  if (!Trim(c.email).empty() && email.error.empty())
    return {o.fullNameGiven ? MailboxText(o.fullName, email.address) : std::string(Trim(c.email)),
            ""};
  if (c.userName.empty()) return {"", "no From, and the user's name is unknown"};
  return {MailboxText(o.fullName, c.userName), ""};
}

// From: the mail's own or the default, bare names qualified, display names encoded.
AddressList FromOf(const Sorted& s, const SendmailOptions& o, const SendmailContext& c) {
  AddressList from = Trim(s.from).empty() ? DefaultFrom(o, c) : AddressList{s.from, ""};
  if (from.ok()) from = QualifySenders(from.value, NamesOf(c));
  if (from.ok()) from = EncodeDisplayNames(from.value);
  if (from.ok() && ExtractMailbox(from.value).empty())
    from.error = "From \"" + from.value + "\" holds no valid address";
  return from;
}

// The return address: -f (its bare name qualified), else the mail's X-pvx-ReturnTo.
AddressList ReturnToOf(const Sorted& s, const SendmailOptions& o, const SendmailContext& c) {
  if (!o.senderGiven) return {s.returnTo, ""};
  if (o.sender.empty()) return {"", ""};
  AddressList r = QualifySenders(o.sender, NamesOf(c));
  if (r.ok() && CheckMailboxAddress(r.value) != "")
    r.error = "-f " + o.sender + ": " + CheckMailboxAddress(r.value);
  return r;
}

void AddLine(std::string& text, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  text.append(name).append(": ").append(value).append("\r\n");
}

}  // namespace

namespace {

struct Addresses {
  AddressList from, returnTo, to, cc, bcc;
  std::string served;
};

// The header block, each line ending in CR LF: the addresses and the subject first, then the
// mail's other headers in their order, then what was missing, then the control headers.
std::string HeaderBlock(const Sorted& s, const Addresses& a, bool eightBitBody, bool utf8Body,
                        const SendmailContext& c) {
  std::string text;
  AddLine(text, "From", a.from.value);
  AddLine(text, "To", a.to.value);
  AddLine(text, "Cc", a.cc.value);
  AddLine(text, "Bcc", a.bcc.value);
  AddLine(text, "Subject", Trim(s.subject).empty() ? kNoSubject : std::string_view(s.subject));
  for (const HeaderField& h : s.kept) text.append(h.name).append(": ").append(h.value).append("\r\n");
  if (!s.hasDate) AddLine(text, "Date", FormatMailDate(c.now, c.utcOffsetMinutes));
  if (!s.hasMessageId) AddLine(text, "Message-ID", NewMessageId(a.from.value, c.senderHostName));
  if (!s.hasMimeVersion) AddLine(text, "MIME-Version", "1.0");
  // An 8-bit body is labelled, so the spooler can convert it for a server without 8BITMIME.
  if (eightBitBody && !s.hasContentType)
    AddLine(text, "Content-Type",
            utf8Body ? "text/plain; charset=utf-8" : "text/plain; charset=windows-1252");
  if (eightBitBody && !s.hasTransferEncoding) AddLine(text, "Content-Transfer-Encoding", "8bit");
  AddLine(text, "X-pvx-ReturnTo", a.returnTo.value);
  AddLine(text, "X-pvx-SendAfter", s.sendAfter);
  AddLine(text, "X-pvx-SuccessAddresses", a.served);
  return text;
}

// The recipient lists with their display names encoded; the error of the first that fails.
std::string EncodeRecipients(const Envelope& env, Addresses& a) {
  a.to = EncodeDisplayNames(env.to);
  a.cc = EncodeDisplayNames(env.cc);
  a.bcc = EncodeDisplayNames(env.bcc);
  a.served = env.served;
  for (const AddressList* list : {&a.to, &a.cc, &a.bcc})
    if (!list->ok()) return list->error;
  return {};
}

}  // namespace

Submission PrepareSubmission(const SendmailMessage& message, const SendmailOptions& options,
                             const SendmailContext& context) {
  Submission out;
  const auto fail = [&](std::string error, bool usage) {
    out.error = std::move(error);
    out.usageError = usage;
    return out;
  };
  const Sorted sorted = SortHeaders(message.headers);
  if (!sorted.error.empty()) return fail(sorted.error, false);
  Addresses a;
  a.returnTo = ReturnToOf(sorted, options, context);
  if (!a.returnTo.ok()) return fail(a.returnTo.error, true);
  a.from = FromOf(sorted, options, context);
  if (!a.from.ok()) return fail(a.from.error, false);
  const Envelope env = MapEnvelope(sorted.recipients, options.recipients,
                                   options.recipientsFromHeaders, NamesOf(context));
  if (!env.ok()) return fail(env.error, env.usageError);
  std::string error = EncodeRecipients(env, a);
  if (!error.empty()) return fail(std::move(error), false);
  if (a.from.value.empty() || a.to.value.empty()) return fail("no From or no To", false);

  const bool eightBit = HasEightBit(message.body);
  out.text = HeaderBlock(sorted, a, eightBit, eightBit && IsValidUtf8(message.body), context);
  out.text.reserve(out.text.size() + 2 + message.body.size());
  out.text.append("\r\n").append(message.body);
  return out;
}

}  // namespace pv
