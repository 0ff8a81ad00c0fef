#include "scripting/sendmail/sendmail_run.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "scripting/sendmail/sendmail_args.h"
#include "scripting/sendmail/sendmail_message.h"
#include "support/exit_codes.h"
#include "transport/mail_composer.h"

namespace pv {
namespace {

int Fail(std::ostream& err, const std::string& error, int code) {
  err << "sendmail: " << error << "\n";
  return code;
}

int SpoolNow(const SendmailServices& services, std::ostream& err) {
  std::string error;
  if (services.spoolNow && services.spoolNow(error)) return kSendmailDone;
  return Fail(err, "the spooler could not be asked for a run: " + error, kSendmailTempFail);
}

int Submit(const SendmailOptions& options, std::istream& in, const SendmailContext& context,
           const SendmailServices& services, std::ostream& err) {
  const SendmailInput input = ReadSendmailMessage(in, options.dotIsData);
  if (!input.ok()) return Fail(err, input.error, kSendmailDataError);
  const Submission submission = PrepareSubmission(input.message, options, context);
  if (!submission.ok())
    return Fail(err, submission.error,
                submission.usageError ? kUsageErrorExit : kSendmailDataError);
  std::string error;
  const int code = services.write(submission.text, error);
  if (code != kSendmailDone) return Fail(err, error, code);
  if (services.spoolNow && !services.spoolNow(error))
    err << "sendmail: the mail is spooled; the spooler was not reached (" << error
        << "), its next run sends it\n";
  return kSendmailDone;
}

}  // namespace

int RunSendmail(const std::vector<std::string>& args, std::istream& in,
                const SendmailContext& context, const SendmailServices& services,
                std::ostream& err) {
  const SendmailArgsResult parsed = ParseSendmailArgs(args);
  if (!parsed.ok())
    return Fail(err, parsed.error + "\nusage: sendmail [-t] [-i] [-f sender] [-F name] [--] "
                                    "[recipient ...]",
                kUsageErrorExit);
  switch (parsed.options.mode) {
    case SendmailMode::ListQueue:
      if (services.listQueue) return services.listQueue();
      return Fail(err, "-bp: list the queue with postvane --queue", kUsageErrorExit);
    case SendmailMode::SpoolNow:
      return SpoolNow(services, err);
    case SendmailMode::Submit:
      break;
  }
  return Submit(parsed.options, in, context, services, err);
}

SendmailContext CurrentSendmailContext(std::string senderHostName,
                                       std::string localRecipientsTo) {
  SendmailContext c;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr)
    c.userName = pw->pw_name;
  if (const char* email = std::getenv("EMAIL"); email != nullptr) c.email = email;
  c.senderHostName = std::move(senderHostName);
  c.localRecipientsTo = std::move(localRecipientsTo);
  c.now = LocalDateTime::Now();
  c.utcOffsetMinutes = LocalUtcOffsetMinutes(c.now);
  return c;
}

}  // namespace pv
