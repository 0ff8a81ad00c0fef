#pragma once
// The spool object of scripts: a new mail built in steps and written as a spool file for the
// spooler that will read it.
//
//   ScriptMail mail;
//   mail.NewTextMail("Report", "me@x.example", "you@y.example", text);
//   mail.AddAttachment("/tmp/report.pdf");
//   if (!mail.Spool()) std::cerr << mail.LastResultMsg();  // else: the file's full path
//
// The file is composed by the transport's MailComposer: CR LF lines, headers in ASCII (8-bit
// values as UTF-8 encoded words, addresses readable), Date, Message-ID and MIME-Version always.
// Nothing is written unless From, To and Subject are non-empty and every address is valid.
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"

namespace pv {

class ScriptMail {
 public:
  // Starts a new mail and forgets the previous one (its options too, except the target).
  // to may be a comma list. False when a value holds a line break (LastResultMsg says so).
  bool NewTextMail(std::string_view subject, std::string_view from, std::string_view to,
                   std::string_view text);
  // Comma lists; replace what was set before.
  void SetCc(std::string_view list) { cc_ = std::string(list); }
  void SetBcc(std::string_view list) { bcc_ = std::string(list); }
  // Another header line. Refused: a name that is not printable ASCII, a line break in the
  // value, a header the mail writes itself, and control headers (X-pvx-...) other than
  // X-pvx-SendAfter and X-pvx-ReturnTo, which go through the setters below. Cc, Bcc and
  // Reply-To are taken as address lists.
  bool AddHeader(std::string_view name, std::string_view value);
  // An HTML version of the text (UTF-8): multipart/alternative.
  void SetHtml(std::string_view html) { html_ = std::string(html); }
  // A file sent along (as application/octet-stream under its file name); false when it
  // cannot be read now. It is read when the mail is spooled.
  bool AddAttachment(const std::string& path);
  // The earliest time of delivery (X-pvx-SendAfter, local time).
  void SetSendAfter(LocalDateTime when) { sendAfter_ = when; hasSendAfter_ = true; }
  // The address that gets the spooler's return mail when delivery fails (X-pvx-ReturnTo).
  bool SetReturnTo(std::string_view address);
  // The spool directory (and extension) to write into instead of the spooler's; with an
  // extension nothing is looked up.
  void SetTarget(std::string directory, std::string extension = "") {
    directory_ = std::move(directory);
    extension_ = std::move(extension);
  }

  // The spool file's bytes, dated `now`; "" with error set when the mail is incomplete.
  std::string Compose(LocalDateTime now, std::string& error) const;
  // Writes the mail into the spool directory. True on success.
  bool Spool();
  // After Spool: the full path of the file written, or why nothing was written. After a
  // refused call: why.
  const std::string& LastResultMsg() const { return lastResult_; }
  // What the last failed Spool failed at (None after a success).
  enum class Failure { None, Mail, Write, WriteTemporary };
  Failure LastFailure() const { return lastFailure_; }

 private:
  bool Refuse(std::string message);

  bool started_ = false;
  std::string subject_, from_, to_, cc_, bcc_, text_, html_, returnTo_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<std::string> attachments_;
  LocalDateTime sendAfter_;
  bool hasSendAfter_ = false;
  std::string directory_, extension_;
  std::string lastResult_;
  Failure lastFailure_ = Failure::None;
};

}  // namespace pv
