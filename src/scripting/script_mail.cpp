#include "scripting/script_mail.h"

#include <unistd.h>

#include "scripting/spool_target.h"
#include "scripting/spool_writer.h"
#include "support/codepage.h"
#include "support/paths.h"
#include "support/text.h"
#include "transport/mail_composer.h"
#include "transport/recipients.h"

namespace pv {
namespace {

constexpr std::string_view kSendAfter = "X-pvx-SendAfter";
constexpr std::string_view kReturnTo = "X-pvx-ReturnTo";

bool IsAddressHeader(std::string_view name) {
  return EqualsNoCase(name, "Cc") || EqualsNoCase(name, "Bcc") || EqualsNoCase(name, "Reply-To");
}

// "" when every mailbox of the list is valid, else the first error, naming the header.
std::string CheckAddressList(std::string_view header, std::string_view list) {
  for (const RecipientGroup& group : GroupRecipientItems(list))
    if (!group.ok()) return std::string(header) + ": " + group.error;
  return {};
}

std::string EmptyField(std::string_view name) {
  return "'" + std::string(name) + "' field can not be empty.";
}

}  // namespace

bool ScriptMail::Refuse(std::string message) {
  lastResult_ = std::move(message);
  return false;
}

bool ScriptMail::NewTextMail(std::string_view subject, std::string_view from,
                             std::string_view to, std::string_view text) {
  std::string directory = std::move(directory_), extension = std::move(extension_);
  *this = ScriptMail();
  SetTarget(std::move(directory), std::move(extension));
  MailComposer check;
  if (!check.NewMail(subject, from, to, text)) return Refuse(check.lastError());
  subject_ = subject;
  from_ = from;
  to_ = to;
  text_ = text;
  started_ = true;
  return true;
}

bool ScriptMail::AddHeader(std::string_view name, std::string_view value) {
  lastResult_.clear();
  const std::string trimmedName(Trim(name));
  if (EqualsNoCase(trimmedName, kSendAfter)) {
    bool error = false;
    const LocalDateTime when = ParseDateTime(Trim(value), error);
    if (error) return Refuse("X-pvx-SendAfter: not a date and time: " + std::string(value));
    SetSendAfter(when);
    return true;
  }
  if (EqualsNoCase(trimmedName, kReturnTo)) return SetReturnTo(value);
  if (StartsWithNoCase(trimmedName, "X-pvx-"))
    return Refuse("header \"" + trimmedName + "\" is the spooler's own");
  // The composer's own checks, on a mail of its own.
  MailComposer check;
  check.NewMail("check", "", "", "");
  const bool ok = IsAddressHeader(trimmedName) ? check.AddAddressHeader(trimmedName, value)
                                               : check.AddHeader(trimmedName, value);
  if (!ok) return Refuse(check.lastError());
  headers_.emplace_back(trimmedName, std::string(value));
  return true;
}

bool ScriptMail::AddAttachment(const std::string& path) {
  lastResult_.clear();
  if (FileNamePart(path).empty() || ::access(path.c_str(), R_OK) != 0)
    return Refuse("cannot read the attachment " + path);
  attachments_.push_back(path);
  return true;
}

bool ScriptMail::SetReturnTo(std::string_view address) {
  lastResult_.clear();
  const std::string text(Trim(address));
  if (const std::string error = CheckMailboxAddress(ExtractMailbox(text));
      !text.empty() && !error.empty())
    return Refuse("X-pvx-ReturnTo: " + error);
  returnTo_ = text;
  return true;
}

std::string ScriptMail::Compose(LocalDateTime now, std::string& error) const {
  error.clear();
  if (!started_) error = "no mail started (NewTextMail)";
  else if (Trim(from_).empty()) error = EmptyField("From");
  else if (Trim(to_).empty()) error = EmptyField("To");
  else if (Trim(subject_).empty()) error = EmptyField("Subject");
  const std::pair<const char*, const std::string*> lists[] = {
      {"From", &from_}, {"To", &to_}, {"Cc", &cc_}, {"Bcc", &bcc_}};
  for (const auto& [header, list] : lists) {
    if (error.empty()) error = CheckAddressList(header, *list);
  }
  if (!error.empty()) return {};

  MailComposer composer;
  bool ok = composer.NewMail(subject_, from_, to_, text_) && composer.AddAddressHeader("Cc", cc_) &&
            composer.AddAddressHeader("Bcc", bcc_);
  for (const auto& [name, value] : headers_) {
    if (!ok) break;
    ok = IsAddressHeader(name) ? composer.AddAddressHeader(name, value)
                               : composer.AddHeader(name, value);
  }
  bool dateError = false;
  if (ok && hasSendAfter_)
    ok = composer.AddHeader(kSendAfter, FormatIsoDateTime(sendAfter_, dateError)) && !dateError;
  if (ok && !returnTo_.empty()) ok = composer.AddHeader(kReturnTo, returnTo_);
  if (ok && !html_.empty()) ok = composer.SetHtmlAlternative(html_);
  for (const std::string& path : attachments_) {
    if (ok) ok = composer.AddFileAttachment(path, FileNamePart(path));
  }
  if (!ok) {
    error = dateError ? "X-pvx-SendAfter: the date cannot be written" : composer.lastError();
    return {};
  }
  Bytes bytes;
  EncodeCodePage(composer.Compose(now), kCodePage1252, bytes);
  return bytes;
}

bool ScriptMail::Spool() {
  std::string error;
  const std::string bytes = Compose(LocalDateTime::Now(), error);
  if (bytes.empty()) {
    lastFailure_ = Failure::Mail;
    return Refuse(error);
  }
  SpoolTarget target;
  if (extension_.empty()) {
    target = FindSpoolTarget(directory_);
  } else {
    target.directory = directory_;
    target.extension = extension_;
  }
  const SpoolWriteResult written = WriteSpoolFile(target.directory, target.extension, bytes);
  if (!written.ok()) {
    lastFailure_ = written.temporary ? Failure::WriteTemporary : Failure::Write;
    return Refuse(written.error);
  }
  lastFailure_ = Failure::None;
  lastResult_ = written.path;
  return true;
}

}  // namespace pv
