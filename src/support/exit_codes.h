#pragma once
// Every exit code Postvane reports, in one table. A result (log line, CSV row, syslog entry)
// carries one of the result codes; the transport's failure kinds are result codes 1 to 11 and
// appear in a delivery error's protocol. The process itself exits with 0, the usage error 64
// or, for `--deliver`, a sysexits value.
#include <atomic>
#include <cstdint>

namespace pv {

// ---- Result codes -------------------------------------------------------------------------

// The kind of the transport's last failure (GetResultCondition).
enum ResultCondition : std::int32_t {
  kConditionNone = 0,                // every recipient served
  kConditionRecipientTemporary = 1,  // a server answered 4xx
  kConditionRecipientPermanent = 2,  // a server answered 5xx
  kConditionDnsTemporary = 3,        // SERVFAIL, timeout, no answer
  kConditionDnsPermanent = 4,        // no such domain, or a null MX
  kConditionConnection = 5,          // no server could be reached, or the connection broke
  kConditionProxy = 6,               // the SOCKS proxy refused or failed
  kConditionTls = 7,                 // TLS required but not possible
  kConditionAuth = 8,                // the relay refused the login
  kConditionProtocol = 9,            // a server broke the protocol or did not answer in time
  kConditionInvalidAddress = 10,     // a recipient or the sender is not a valid address
  kConditionNoMail = 11,             // nothing to send: no mail loaded, or no recipient
  kConditionHostResting = 12,        // not tried: the host failed too often in this run
};

// A delivery attempt.
enum ExitCode : std::int32_t {
  kExitDelivered = 0,
  kExitTransportFailed = 12,  // the transport could not be set up for the attempt
  kExitDeliveryError = 13,    // the attempt failed; the protocol says why
};

// A failed mail given up or written back.
enum GiveUpExitCode : std::int32_t {
  kExitCannotWrite = 18,           // the spool file or the error file could not be written
  kExitCannotRead = 19,            // the spooler may not read the spool file: set aside
  kExitAttachmentFailed = 20,      // the return mail's attachment could not be read
  kExitReturnMailNotCreated = 21,  // the return mail could not be composed
  kExitReturnMailNotSpooled = 22,  // the return mail could not be written to the spool
};

// An invalid spool file, in the order the headers are checked.
enum ValidationExitCode : std::int32_t {
  kExitNoMimeVersion = 26,
  kExitNoFrom = 23,
  kExitNoTo = 24,
  kExitNoSubject = 25,
};

// The code of the last result reported by the spool run.
extern std::atomic<std::int32_t> LastExitCode;

// ---- Process exit codes -------------------------------------------------------------------

// EX_USAGE: the arguments are wrong; nothing was started.
inline constexpr int kUsageErrorExit = 64;

// `postvane --deliver FILE` (sysexits values).
enum DeliverExitCode : int {
  kDeliverDelivered = 0,
  kDeliverInvalidFile = 65,       // EX_DATAERR: the spool run would set the file aside
  kDeliverUnreadable = 66,        // EX_NOINPUT: missing or unreadable
  kDeliverPermanentFailure = 69,  // EX_UNAVAILABLE: every remaining recipient refused for good
  kDeliverTemporaryFailure = 75,  // EX_TEMPFAIL: worth another attempt later
};

// `sendmail` (sysexits values).
enum SendmailExitCode : int {
  kSendmailDone = 0,         // the mail is spooled, or the run was asked for
  kSendmailDataError = 65,   // EX_DATAERR: the mail cannot become a valid spool file
  kSendmailCannotSpool = 73, // EX_CANTCREAT: the spool file could not be written
  kSendmailTempFail = 75,    // EX_TEMPFAIL: the spooler could not be asked for a run (-q)
};

// `postvane-spool` (sysexits values).
enum SpoolToolExitCode : int {
  kSpoolToolDone = 0,
  kSpoolToolUsageError = 64,       // EX_USAGE: the arguments are wrong
  kSpoolToolDataError = 65,   // EX_DATAERR: the mail cannot be made, or the trace failed
  kSpoolToolCannotSpool = 73, // EX_CANTCREAT: the spool file could not be written
  kSpoolToolTempFail = 75,    // EX_TEMPFAIL: no spooler answered, or a transient write error
};

// The queue tools: `postvane --queue`, `--delete`, `--hold`, `--release`, `--retry-now`.
enum QueueExitCode : int {
  kQueueDone = 0,
  // A mail named was left as it was (in hand, missing, not of the spool directory), or the
  // spool directory cannot be read.
  kQueueRefused = 1,
};

// The settings commands: `postvane --check-config`, `--show-config`, `--set-password`.
enum SettingsCommandExitCode : int {
  kSettingsDone = 0,
  // --check-config found something to tell, or the settings file could not be read or written.
  kSettingsFindings = 1,
};

}  // namespace pv
