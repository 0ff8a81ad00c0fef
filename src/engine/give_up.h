#pragma once
// What becomes of a mail whose delivery failed, and of a file that is no valid mail. A failed
// attempt is written back into the spool file (recipients served, retry count, time of the
// next attempt); once the attempts are used up the mail goes back to its return address as
// the attachment of a return mail, or is set aside as an error file. Every new file appears
// whole or not at all, and the working file is deleted only after it is in place; when a
// write fails the working file stays.
#include <cstdint>
#include <string>
#include <string_view>

#include "reporting_api/result_reporter.h"
#include "engine/spool_file.h"
#include "settings/spooler_settings.h"
#include "support/date_time.h"
#include "support/exit_codes.h"
#include "support/io_error.h"

namespace pv {

inline constexpr std::string_view kReturnMailSubject = "The attached Mail had permanent errors";
inline constexpr std::string_view kFailedForGoodText =
    "The attached mime file had permanent errors. See Protocol.txt for further information.";
inline constexpr std::string_view kInvalidFileText =
    "The mime format of the attached file is not correct or is not a mime file at all. See "
    "Protocol.txt for further information.";

struct GiveUpContext {
  ResultReporter& reporter;
  const SpoolerSettings& settings;
  LocalDateTime now;     // the time of the failure
  std::string encoding;  // the encoding the file was read in; what is written back keeps it
};

// Appends the lines that carry a mail's state from one attempt to the next to
// file.FileHeaders: the recipients served (also when none), the retry count, the next
// send-after time and, when there are any, the recipients refused for good.
void AppendControlHeaders(SpoolFile& file);

// After a failed delivery: appends the recipients served and refused so far (SuccessAddresses
// and RefusedAddresses, brought up to date by the caller), the new retry count and the next
// send-after time to file.FileHeaders, then rewrites the spool file or gives the mail up: after
// the last attempt, or at once when giveUpNow (no recipient is left to try). True when the mail
// reached its next form and the working file is gone.
bool HandleDeliveryFailure(SpoolFile& file, const std::string& protocol, bool giveUpNow,
                           const GiveUpContext& context);

// After a failed validation (message is the protocol): a return mail to the return address,
// or the error file. True when the working file is gone.
bool HandleInvalidFile(SpoolFile& file, const std::string& message, const GiveUpContext& context);

struct ReturnMail {
  std::string_view body;
  std::string from;
  std::string to;
  std::string protocol;
  std::string attachmentName;  // of the working file
};

// Spools the return mail, with attachment (the bytes of the file as it stands) or, when that is
// null, the working file attached, under the spool file's own name or the first free numbered
// one, and deletes the working file. Reports (codes 20, 21, 22) and returns false when that
// fails.
bool SendReturnMail(const ReturnMail& mail, const SpoolFile& file, ResultReporter& reporter,
                    const std::string* attachment = nullptr);

// Writes text to the spool path + ".error", or to the first free numbered name (P.2.error, ...)
// when an older error file has it (that one is kept), and deletes the working file. Reports (code 18) and returns false when the write fails.
bool WriteErrorFile(const SpoolFile& file, const std::string& text, const std::string& encoding,
                    ResultReporter& reporter);

// Writes text as a new file in the encoding a spool file was read in ("ansi-1031", or the one
// its byte-order mark named, mark included), atomically; with replace false an existing file
// is kept and the write fails.
IoError WriteSpoolText(const std::string& path, std::string_view text, const std::string& encoding,
                       bool replace);

// A spool file's text as its two pieces, kept headers and body, without a copy of either; as a
// string (for the rarer writes that need one) they are joined by an empty line.
struct SpoolText {
  std::string_view headers;
  std::string_view body;
  operator std::string() const;
};

// The same for text in two pieces: encoded straight into the one buffer that is written.
IoError WriteSpoolText(const std::string& path, const SpoolText& text, const std::string& encoding,
                       bool replace);

}  // namespace pv
