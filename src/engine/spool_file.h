#pragma once
// The spool file: a complete mail as CR LF text whose header block also carries the control
// headers "X-pvx-...". Parsing is pure: text in, fields and rebuilt header lists out.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"
#include "support/io_error.h"

namespace pv {

struct SpoolFile {
  std::string Path;         // the name under which the file was found
  std::string WorkingPath;  // the name while it is processed
  std::string Content;      // the whole text as read (CR LF line ends)
  std::size_t BodyStart = 0;  // where the body begins in Content
  std::string SendHeaders;  // header lines that go out with the mail, joined by CR LF
  std::string FileHeaders;  // header lines written back on a rewrite, joined by CR LF
  std::string From, To, Cc, Bcc, Subject, MimeVersion;  // decoded values
  std::int32_t RetryCount = 0;
  LocalDateTime SendAfter;
  std::string ReturnTo;
  bool IsReturnMail = false;
  std::string SuccessAddresses;  // the recipients served in earlier attempts
  std::string RefusedAddresses;  // those refused for good, each with the reply as a comment
  bool IsErrorMime = false;
  bool HasDate = false, HasMessageId = false;

  // The text after the first empty line (the whole text without one); a view into Content,
  // so a mail's bytes are held once.
  std::string_view Body() const { return std::string_view(Content).substr(BodyStart); }
};

// Reads a spool file whole in the spool encoding: "ansi-1031" (code page 1252) unless a
// byte-order mark names another; encoding gives back the one used, so a rewrite keeps it. A
// file whose lines all end in LF alone (no CR LF anywhere), as most Linux tools write them, is
// read as if every LF were CR LF; a file with mixed line ends is read as it is.
bool ReadSpoolText(const std::string& path, std::string& text, std::string& encoding,
                   IoError& error);

// Every LF that has no CR before it becomes CR LF, but only when the text holds no CR LF at all.
void UseCrLfLineEnds(std::string& text);

// The header block: the text before the first CR LF CR LF, or the whole text without one.
std::string_view HeaderBlockOf(std::string_view text);
// The body: the text after the first CR LF CR LF, or the whole text without one.
std::string_view BodyOf(std::string_view text);

// Fills the fields, SendHeaders, FileHeaders and BodyStart of `file` from `text` (kept as
// Content; pass it moved to keep one copy). A send-after value that is empty or unreadable
// means `now`.
void ParseSpoolText(std::string text, LocalDateTime now, SpoolFile& file);

// Gives a mail without a Date or Message-ID header these lines ("Date: " + date,
// "Message-ID: " + messageId): in SendHeaders and FileHeaders, and in Content before the empty
// line, so that the text as it stands shows them too.
void AddMissingDateAndMessageId(SpoolFile& file, const std::string& date,
                                const std::string& messageId);

// The mail that goes out: SendHeaders, an empty line, the body.
std::string MailTextOf(const SpoolFile& file);
// The address lists of the recipients in their order: To, Cc, Bcc.
std::vector<std::string_view> RecipientListsOf(const SpoolFile& file);
// To, Cc and Bcc as one readable comma list ("Name <a@x.example>, b@y.example", folding
// removed) without repetitions and without the recipients served or refused before.
std::string RecipientsOf(const SpoolFile& file);

// A header value as it goes out: encoded words where needed, folding kept. In address lists
// only the display names are encoded, so every address stays readable.
std::string EncodeAddressList(std::string_view value);
std::string EncodeUnstructured(std::string_view value);

}  // namespace pv
