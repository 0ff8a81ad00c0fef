#include "scripting/tool/spool_tool.h"

#include <clocale>
#include <iostream>
#include <iterator>

#include "scripting/mail_trace.h"
#include "scripting/script_mail.h"
#include "scripting/sendmail/sendmail_run.h"
#include "scripting/spool_run.h"
#include "scripting/spool_target.h"
#include "scripting/spool_writer.h"
#include "scripting/tool/spool_tool_args.h"
#include "shell/command_line.h"
#include "shell/queue_command.h"
#include "support/durable_write.h"
#include "support/exit_codes.h"

namespace pv {
namespace {

int Fail(std::ostream& err, const std::string& text, int code) {
  err << "postvane-spool: " << text << "\n";
  return code;
}

// The mail of the options, or the exit code and text of why it cannot be made.
int BuildMail(const SpoolMailOptions& o, std::istream& in, ScriptMail& mail, std::ostream& err) {
  const std::string body{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!mail.NewTextMail(o.subject, o.from, o.to, body))
    return Fail(err, mail.LastResultMsg(), kSpoolToolDataError);
  mail.SetCc(o.cc);
  mail.SetBcc(o.bcc);
  bool ok = true;
  for (const auto& [name, value] : o.headers) ok = ok && mail.AddHeader(name, value);
  for (const std::string& path : o.attachments) ok = ok && mail.AddAttachment(path);
  if (ok && !o.sendAfter.empty()) ok = mail.AddHeader("X-pvx-SendAfter", o.sendAfter);
  if (ok && !o.returnTo.empty()) ok = mail.SetReturnTo(o.returnTo);
  if (!ok) return Fail(err, mail.LastResultMsg(), kSpoolToolUsageError);
  if (!o.htmlFile.empty()) {
    std::string html;
    if (const IoError error = ReadWholeFile(o.htmlFile, html))
      return Fail(err, "--html: " + error.text, kSpoolToolUsageError);
    mail.SetHtml(html);
  }
  if (!o.spoolDir.empty()) mail.SetTarget(o.spoolDir);
  return kSpoolToolDone;
}

int SpoolMail(const SpoolMailOptions& options, std::istream& in, std::ostream& out,
              std::ostream& err) {
  ScriptMail mail;
  if (const int code = BuildMail(options, in, mail, err); code != kSpoolToolDone) return code;
  if (!mail.Spool()) {
    const int code = mail.LastFailure() == ScriptMail::Failure::Mail ? kSpoolToolDataError
                     : mail.LastFailure() == ScriptMail::Failure::WriteTemporary
                         ? kSpoolToolTempFail
                         : kSpoolToolCannotSpool;
    return Fail(err, mail.LastResultMsg(), code);
  }
  out << mail.LastResultMsg() << "\n";
  std::string error;
  if (options.run && !RunSpooler(error))
    err << "postvane-spool: the mail is spooled; no spooler took the run request (" << error
        << "), its next run sends it\n";
  return kSpoolToolDone;
}

int TraceMail(const SpoolToolArgs& args, std::ostream& out) {
  MailTrace trace;
  trace.DNSUrl = args.dns;
  bool ok = trace.Trace(args.from, args.to);
  if (ok && args.probe) {
    SpoolerSettings settings = FindSpoolTarget().settings;
    if (!args.dns.empty()) settings.EffectiveDNSServers = args.dns;
    ok = trace.Probe(args.from, args.to, settings);
  }
  out << trace.Protocol();
  if (ok) return kSpoolToolDone;
  return trace.FailureTemporary() ? kSpoolToolTempFail : kSpoolToolDataError;
}

}  // namespace

int RunSpoolTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                 std::ostream& err) {
  const SpoolToolArgs parsed = ParseSpoolToolArgs(args);
  switch (parsed.command) {
    case SpoolToolCommand::UsageError:
      err << "postvane-spool: " << parsed.error << "\n" << kSpoolToolHelp;
      return kSpoolToolUsageError;
    case SpoolToolCommand::Help: out << kSpoolToolHelp; return kSpoolToolDone;
    case SpoolToolCommand::Mail: return SpoolMail(parsed.mail, in, out, err);
    case SpoolToolCommand::Trace: return TraceMail(parsed, out);
    case SpoolToolCommand::Run: break;
  }
  std::string error;
  if (!RunSpooler(error)) return Fail(err, error, kSpoolToolTempFail);
  return kSpoolToolDone;
}

int RunSendmailCommand(const std::vector<std::string>& args, std::istream& in,
                       std::ostream& err) {
  const SpoolTarget target = FindSpoolTarget();
  SendmailServices services;
  services.write = [&target](std::string_view bytes, std::string& error) {
    const SpoolWriteResult written = WriteSpoolFile(target.directory, target.extension, bytes);
    error = written.error;
    if (written.ok()) return static_cast<int>(kSendmailDone);
    return static_cast<int>(written.temporary ? kSendmailTempFail : kSendmailCannotSpool);
  };
  services.spoolNow = [](std::string& error) { return RunSpooler(error); };
  services.listQueue = [] {
    CommandLine line;
    line.command = Command::Queue;
    return RunQueueTool(line);
  };
  return RunSendmail(args, in,
                     CurrentSendmailContext(target.senderHostName, target.localRecipientsTo),
                     services, err);
}

bool CalledAsSendmail(std::string_view programPath) {
  const std::size_t slash = programPath.rfind('/');
  return programPath.substr(slash == std::string_view::npos ? 0 : slash + 1) == "sendmail";
}

int RunSpoolToolMain(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (argc > 0 && CalledAsSendmail(argv[0])) return RunSendmailCommand(args, std::cin, std::cerr);
  return RunSpoolTool(args, std::cin, std::cout, std::cerr);
}

}  // namespace pv
