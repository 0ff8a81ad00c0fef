#pragma once
// New mails (return mails of the spool engine) composed as MIME messages and written as spool
// files.
//
// The message is built as bytes: headers in ASCII (subject and display names as RFC 2047
// encoded words, addresses readable), a text/plain UTF-8 body, and attachments in Base64.
// Compose gives those bytes read as code page 1252, which maps every byte to a character and
// back, so the spool engine, reading the file as "ansi-1031", gets back exactly these bytes.
//
// Header injection is impossible: header names are checked, and values never carry a line
// break other than the folding the composer puts in itself. No continuation line of a header
// holds a ":", which the spool reader would take for a new header.
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"
#include "support/text.h"

namespace pv {

// "Fri, 17 May 2024 14:30:00 +0200": an RFC 5322 date-time, seconds truncated.
std::string FormatMailDate(LocalDateTime local, int utcOffsetMinutes);
// The offset of local time from UTC at that local time, by the system's time zone.
int LocalUtcOffsetMinutes(LocalDateTime local);
// A new unique Message-ID "<seconds.random@host>" (the time since the epoch, 96 random bits):
// host is the domain of the first mailbox of from, else fallbackHost when it is a plain host
// name, else "postvane.localdomain".
std::string NewMessageId(std::string_view from, std::string_view fallbackHost);

class MailComposer {
 public:
  // Starts a new mail and forgets the previous one. from and to are header values (to may be
  // a comma list); either may be empty, the header is then left out. Folding (CR LF before a
  // blank or tab) is undone; any other CR or LF fails the call and leaves no mail.
  bool NewMail(std::string_view subject, std::string_view from, std::string_view to,
               std::string_view body);
  // Adds one header after the standard ones. The name is printable ASCII without ":" and
  // blanks, and not one the composer writes itself (Date, From, To, Subject, Message-ID,
  // MIME-Version, Content-*); the value holds no CR or LF. False, nothing added, otherwise.
  bool AddHeader(std::string_view name, std::string_view value);
  // An address list header ("Cc", "Bcc", "Reply-To"), formatted as From and To are: display
  // names encoded where needed, addresses readable. False, nothing added, for another name or
  // a line break.
  bool AddAddressHeader(std::string_view name, std::string_view list);
  // An HTML version of the body: the mail then carries multipart/alternative with the text
  // first and this HTML (UTF-8) second.
  bool SetHtmlAlternative(std::string_view html);
  // A text/plain UTF-8 attachment.
  bool AddTextAttachment(std::string_view text, std::string_view attachmentName);
  // The file's bytes as an application/octet-stream attachment; false, nothing added, when
  // the file cannot be read.
  bool AddFileAttachment(const std::string& path, std::string_view attachmentName);
  // The same for bytes in memory (a file's text as it stands).
  bool AddBytesAttachment(Bytes content, std::string_view attachmentName);
  void Reset();

  // Why the last NewMail or Add call failed; "" after one that succeeded.
  const std::string& lastError() const { return lastError_; }

  // The whole message, CR LF lines, as code page 1252 text of its bytes; "" without a mail.
  std::string Compose(LocalDateTime now) const;
  // Writes the message, dated now, as a new file at path (atomically; an existing file is
  // never replaced, since in a spool directory it is another mail — unless `replace` says the
  // caller owns the file at path, as the spool engine owns a working file).
  bool SpoolToFile(const std::string& path, std::string& error, bool replace = false) const;

 private:
  struct Attachment {
    std::string name;
    Bytes content;
    bool text = false;
  };

  bool Fail(std::string error);
  Bytes ComposeBytes(LocalDateTime now) const;
  Bytes BodyPart() const;
  std::string Boundary(const std::vector<Bytes>& parts) const;

  bool started_ = false;
  // Complete, folded header lines without their final CR LF: From, To and Subject, then the
  // added ones.
  std::vector<std::string> mailLines_;
  std::vector<std::string> addedLines_;
  Bytes body_;                            // UTF-8, CR LF line ends
  Bytes html_;                            // the same, "" without an HTML version
  std::vector<Attachment> attachments_;
  std::string messageId_;
  std::string boundaryToken_;
  std::string lastError_;
};

}  // namespace pv
