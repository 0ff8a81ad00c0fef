#include "engine/give_up.h"

#include <limits>

#include "engine/comma_list.h"
#include "engine/retry_schedule.h"
#include "engine/working_file.h"
#include "support/codepage.h"
#include "support/durable_write.h"
#include "support/paths.h"
#include "support/text.h"
#include "transport/mail_transport.h"

namespace pv {
namespace {

constexpr std::string_view kProtocolName = "Protocol.txt";
constexpr std::string_view kInvalidAttachmentName = "data.bin";

Bytes EncodeSpoolText(std::string_view text, const std::string& encoding) {
  Bytes out;
  if (encoding == "utf8") {
    if (!EncodeUtf8(text, out, 3)) EncodeUtf8(DecodeUtf8(text), out, 3);
    if (out.size() < 3) out.resize(3);
    out.replace(0, 3, "\xEF\xBB\xBF");
  } else if (encoding == "utf16le" || encoding == "utf16be") {
    const bool bigEndian = encoding == "utf16be";
    if (!EncodeUtf16(text, out, 2, bigEndian)) out.resize(2);
    out.replace(0, 2, bigEndian ? "\xFE\xFF" : "\xFF\xFE");
  } else {
    // "ansi-1031" is code page 1252; a UTF-32 file was read one character per byte.
    const bool utf32 = encoding == "utf32le" || encoding == "utf32be";
    EncodeCodePage(text, utf32 ? 0 : kCodePage1252, out);
  }
  return out;
}

void Report(ResultReporter& reporter, const std::string& from, const SpoolFile& file,
            std::int32_t code, const std::string& message) {
  LastExitCode = code;
  reporter.ReportResult(kResultError, from, file.To, file.Subject, code, message, "");
}

std::string CannotWrite(const std::string& path, const IoError& error) {
  return "Can not write to '" + path + "'. " + error.text;
}

// A failure counted and the next attempt set, recorded in the kept headers.
void RecordFailure(SpoolFile& file, const GiveUpContext& context) {
  if (file.RetryCount < std::numeric_limits<std::int32_t>::max()) ++file.RetryCount;
  if (const auto minutes = RetryWaitMinutes(file.RetryCount, context.settings.RetryInterval))
    file.SendAfter = context.now.AddMinutes(*minutes);
  AppendControlHeaders(file);
}

SpoolText FileText(const SpoolFile& file) { return {file.FileHeaders, file.Body()}; }

// Says once that a mail waits under another name than its own.
void ReportNewName(ResultReporter& reporter, const std::string& from, const SpoolFile& file,
                   std::int32_t code, const std::string& path) {
  Report(reporter, from, file, code,
         "'" + file.Path + "' was taken by another mail meanwhile; this mail now waits as '" +
             path + "'.");
}

// What follows a mail (its rewrite, its return mail, its error file) first replaces the working
// file and then takes its own name; the working file is never deleted beside a successor. A
// crash in between leaves the successor under the working name, which the recovery at start
// gives back: the mail exists once, never twice, never not at all.
IoError IoErrorOfErrno(const std::string& path) {
  return IoError::FromErrno(errno, path);
}

// Moves the working file, which already holds the successor, to `target` or, when a writer
// dropped a new mail under that name meanwhile (it is never replaced), to the first free
// numbered one. The path it got; "" with error set when it could not be moved.
std::string MoveSuccessor(const SpoolFile& file, const std::string& target, IoError& error) {
  const std::string path = RenameToFreeName(file.WorkingPath, target);
  if (path.empty()) error = IoErrorOfErrno(target);
  return path;
}

// The spool file written back for the next attempt, under its own name or a free numbered one.
bool Reschedule(const SpoolFile& file, const GiveUpContext& context) {
  IoError error = WriteSpoolText(file.WorkingPath, FileText(file), context.encoding, true);
  const std::string path = error ? "" : MoveSuccessor(file, file.Path, error);
  if (error) {
    Report(context.reporter, file.From, file, kExitCannotWrite, CannotWrite(file.Path, error));
    return false;
  }
  if (path != file.Path) ReportNewName(context.reporter, file.From, file, kExitCannotWrite, path);
  return true;
}

// A return mail to `to`, or the error file with `text` when none can be sent.
bool ReturnOrSetAside(const ReturnMail& mail, const SpoolFile& file, const std::string& text,
                      const GiveUpContext& context, const std::string* attachment = nullptr) {
  if (!mail.to.empty() && SendReturnMail(mail, file, context.reporter, attachment)) return true;
  return WriteErrorFile(file, text, context.encoding, context.reporter);
}

}  // namespace

void AppendControlHeaders(SpoolFile& file) {
  file.FileHeaders += "\r\nX-pvx-SuccessAddresses: " + file.SuccessAddresses;
  file.FileHeaders += "\r\nX-pvx-Retry: " + std::to_string(file.RetryCount);
  bool error = false;
  file.FileHeaders += "\r\nX-pvx-SendAfter: " + FormatIsoDateTime(file.SendAfter, error);
  if (!file.RefusedAddresses.empty())
    file.FileHeaders += "\r\nX-pvx-RefusedAddresses: " + file.RefusedAddresses;
}

IoError WriteSpoolText(const std::string& path, std::string_view text, const std::string& encoding,
                       bool replace) {
  DurableWriteOptions options;
  options.failIfExists = !replace;
  return WriteFileDurably(path, EncodeSpoolText(text, ToLowerAscii(encoding)), options);
}

SpoolText::operator std::string() const {
  std::string text;
  text.reserve(headers.size() + 4 + body.size());
  text.append(headers).append("\r\n\r\n").append(body);
  return text;
}

IoError WriteSpoolText(const std::string& path, const SpoolText& text, const std::string& encoding,
                       bool replace) {
  // A file with a byte-order mark is rare: it takes the way through the joined text.
  if (StartsWithNoCase(encoding, "utf"))
    return WriteSpoolText(path, std::string(text), encoding, replace);
  Bytes bytes;
  bytes.reserve(text.headers.size() + 4 + text.body.size());
  Append1252(text.headers, bytes);
  bytes += "\r\n\r\n";
  Append1252(text.body, bytes);
  DurableWriteOptions options;
  options.failIfExists = !replace;
  return WriteFileDurably(path, bytes, options);
}

bool HandleDeliveryFailure(SpoolFile& file, const std::string& protocol, bool giveUpNow,
                           const GiveUpContext& context) {
  RecordFailure(file, context);
  if (!giveUpNow && file.RetryCount < context.settings.MaxRetryCount)
    return Reschedule(file, context);
  if (file.IsReturnMail) {
    // A return mail is never answered by another one: that could loop.
    file.FileHeaders += "\r\nX-pvx-IsErrorMime: 1";
    return WriteErrorFile(file, FileText(file), context.encoding, context.reporter);
  }
  if (file.ReturnTo.empty()) file.ReturnTo = context.settings.DefaultReturnTo;
  const ReturnMail mail{kFailedForGoodText, file.From, file.ReturnTo, protocol,
                        "Mime." + context.settings.DefaultExtension};
  // The mail as claimed, in its encoding, with the line ends and the Date and Message-ID it
  // went out with.
  const Bytes attachment = EncodeSpoolText(file.Content, ToLowerAscii(context.encoding));
  return ReturnOrSetAside(mail, file, FileText(file), context, &attachment);
}

bool HandleInvalidFile(SpoolFile& file, const std::string& message, const GiveUpContext& context) {
  if (file.ReturnTo.empty()) file.ReturnTo = context.settings.DefaultReturnTo;
  // The file's own sender may be missing: the return mail comes from the return address.
  const ReturnMail mail{kInvalidFileText, file.ReturnTo, file.ReturnTo, message,
                        std::string(kInvalidAttachmentName)};
  return ReturnOrSetAside(mail, file, file.Content, context);
}

bool SendReturnMail(const ReturnMail& mail, const SpoolFile& file, ResultReporter& reporter,
                    const std::string* attachment) {
  MailTransport transport;
  if (!transport.NewMail(std::string(kReturnMailSubject), mail.from, mail.to,
                         std::string(mail.body))) {
    Report(reporter, mail.from, file, kExitReturnMailNotCreated,
           "Can not create return mail. " + transport.GetResultMessage());
    return false;
  }
  transport.AddHeader("X-pvx-IsReturnMail", "1");
  transport.AddTextAttachment(mail.protocol, std::string(kProtocolName));
  const bool attached =
      attachment != nullptr ? transport.AddBytesAttachment(*attachment, mail.attachmentName)
                            : transport.AddFileAttachment(file.WorkingPath, mail.attachmentName);
  if (!attached) {
    Report(reporter, mail.from, file, kExitAttachmentFailed,
           "Can not add attachment to return mail. " + transport.GetResultMessage());
    return false;
  }
  // In place of the working file (its mail is attached), then under the spool file's name or
  // the first free numbered one when a newer mail took it.
  IoError error;
  const bool spooled = transport.SpoolToFile(file.WorkingPath, true);
  const std::string path = spooled ? MoveSuccessor(file, file.Path, error) : "";
  if (path.empty()) {
    Report(reporter, mail.from, file, kExitReturnMailNotSpooled,
           "Can not spool return mail. " +
               (spooled ? error.text : transport.GetResultMessage()));
    return false;
  }
  if (path != file.Path) ReportNewName(reporter, mail.from, file, kExitReturnMailNotSpooled, path);
  return true;
}

bool WriteErrorFile(const SpoolFile& file, const std::string& text, const std::string& encoding,
                    ResultReporter& reporter) {
  // An older error file of the same name is another mail set aside: it is kept, and this one
  // goes under the next free name (P.error, P.2.error, P.3.error, ...).
  const std::string errorPath = file.Path + ".error";
  IoError error = WriteSpoolText(file.WorkingPath, text, encoding, true);
  if (!error) MoveSuccessor(file, errorPath, error);
  if (error) {
    Report(reporter, file.From, file, kExitCannotWrite, CannotWrite(errorPath, error));
    return false;
  }
  return true;
}

}  // namespace pv
