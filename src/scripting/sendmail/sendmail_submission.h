#pragma once
// A mail given to `sendmail` made a valid spool file: the envelope written into the header
// (sendmail_envelope.h), a From where there is none, Mime-Version, Subject, Date and
// Message-ID where they are missing, every header line ASCII, and a text/plain label for an
// 8-bit body that has none.
//
// The result is the spool file's bytes: CR LF lines, header values in ASCII (8-bit values as
// RFC 2047 encoded words, UTF-8 unless the bytes are not UTF-8, then code page 1252), the
// body's bytes unchanged. Nothing comes out unless Mime-Version, From, To and Subject are
// non-empty.
#include <string>

#include "scripting/sendmail/sendmail_args.h"
#include "scripting/sendmail/sendmail_message.h"
#include "support/date_time.h"

namespace pv {

// What the front end knows of its caller and the spooler.
struct SendmailContext {
  std::string userName;           // the caller's login name
  std::string email;              // $EMAIL ("Name <a@x.example>" or an address); "" if unset
  std::string senderHostName;     // Spooler/SenderHostName
  std::string localRecipientsTo;  // Spooler/LocalRecipientsTo
  LocalDateTime now;
  int utcOffsetMinutes = 0;       // of local time at `now`
};

// The subject of a mail that has none: the spool engine refuses an empty one.
inline constexpr std::string_view kNoSubject = "(no subject)";

struct Submission {
  std::string text;  // the spool file's bytes
  std::string error;
  bool usageError = false;  // the error lies in the arguments (exit 64), else in the mail (65)
  bool ok() const { return error.empty(); }
};

Submission PrepareSubmission(const SendmailMessage& message, const SendmailOptions& options,
                             const SendmailContext& context);

}  // namespace pv
