#include "scripting/tool/spool_tool_args.h"

#include <functional>
#include <map>
#include <string_view>

#include "support/text.h"

namespace pv {

const char* const kSpoolToolHelp =
    R"(usage: postvane-spool mail --subject S --from ADDR --to ADDR[,ADDR...] [options] < body
       postvane-spool trace [--dns SERVERS] [--probe] FROM TO
       postvane-spool run
       postvane-spool --help

mail: the body (UTF-8 text) is read from standard input; the spool file written is printed,
then the spooler is asked for a run.
  --cc LIST, --bcc LIST     more recipients (Bcc is never sent)
  --attach PATH             a file sent along; may be repeated
  --header "Name: value"    another header line; may be repeated
  --html FILE               an HTML version of the body
  --send-after TIME         not before then: "2026-12-24T18:00", "T18:00" (today)
  --return-to ADDR          where the spooler sends its report when delivery fails
  --spool-dir DIR           write into DIR instead of the spooler's spool directory
  --no-run                  do not ask the spooler for a run
trace: checks both addresses and the recipient's mail exchanger in DNS; with --probe also
  asks the SMTP servers along the spooler's route (EHLO, MAIL, RCPT, RSET, QUIT; never DATA).
run: asks the running spooler(s) for a run now.
Called as "sendmail" (a link to this program), it is the sendmail front end.
Exit: 0 done, 64 usage, 65 the mail is invalid or the trace failed, 73 cannot write the
spool file, 75 try again later (no spooler reached, a temporary failure).
)";

namespace {

using Setter = std::function<bool(SpoolMailOptions&, const std::string&, std::string&)>;

Setter Into(std::string SpoolMailOptions::*field) {
  return [field](SpoolMailOptions& m, const std::string& v, std::string&) {
    m.*field = v;
    return true;
  };
}

const std::map<std::string, Setter, std::less<>>& MailOptionTable() {
  static const std::map<std::string, Setter, std::less<>> table = {
      {"--subject", Into(&SpoolMailOptions::subject)},
      {"--from", Into(&SpoolMailOptions::from)},
      {"--to", Into(&SpoolMailOptions::to)},
      {"--cc", Into(&SpoolMailOptions::cc)},
      {"--bcc", Into(&SpoolMailOptions::bcc)},
      {"--html", Into(&SpoolMailOptions::htmlFile)},
      {"--send-after", Into(&SpoolMailOptions::sendAfter)},
      {"--return-to", Into(&SpoolMailOptions::returnTo)},
      {"--spool-dir", Into(&SpoolMailOptions::spoolDir)},
      {"--attach",
       [](SpoolMailOptions& m, const std::string& v, std::string&) {
         m.attachments.push_back(v);
         return true;
       }},
      {"--header",
       [](SpoolMailOptions& m, const std::string& v, std::string& error) {
         const std::size_t colon = v.find(':');
         if (colon == std::string::npos || Trim(v.substr(0, colon)).empty()) {
           error = "--header needs \"Name: value\", not \"" + v + "\"";
           return false;
         }
         m.headers.emplace_back(std::string(Trim(v.substr(0, colon))),
                                std::string(Trim(v.substr(colon + 1), " \t")));
         return true;
       }},
  };
  return table;
}

SpoolToolArgs Usage(std::string error) {
  SpoolToolArgs args;
  args.error = std::move(error);
  return args;
}

// The options of "mail": each "--name value" or "--name=value".
SpoolToolArgs ParseMail(const std::vector<std::string>& args) {
  SpoolToolArgs out;
  out.command = SpoolToolCommand::Mail;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--no-run") {
      out.mail.run = false;
      continue;
    }
    const std::size_t equals = args[i].find('=');
    const std::string name = args[i].substr(0, equals);
    const auto option = MailOptionTable().find(name);
    if (option == MailOptionTable().end()) return Usage("mail: unknown argument \"" + args[i] + "\"");
    std::string value;
    if (equals != std::string::npos) value = args[i].substr(equals + 1);
    else if (i + 1 < args.size()) value = args[++i];
    else return Usage("mail: " + name + " needs a value");
    if (std::string error; !option->second(out.mail, value, error)) return Usage("mail: " + error);
  }
  for (const auto& [name, value] : {std::pair{"--subject", &out.mail.subject},
                                    std::pair{"--from", &out.mail.from},
                                    std::pair{"--to", &out.mail.to}}) {
    if (Trim(*value).empty()) return Usage(std::string("mail: ") + name + " is required");
  }
  return out;
}

SpoolToolArgs ParseTrace(const std::vector<std::string>& args) {
  SpoolToolArgs out;
  out.command = SpoolToolCommand::Trace;
  std::vector<std::string> addresses;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--dns" && i + 1 < args.size()) out.dns = args[++i];
    else if (args[i].starts_with("--dns=")) out.dns = args[i].substr(6);
    else if (args[i] == "--probe") out.probe = true;
    else if (args[i].starts_with("--")) return Usage("trace: unknown option \"" + args[i] + "\"");
    else addresses.push_back(args[i]);
  }
  if (addresses.size() != 2) return Usage("trace needs FROM and TO");
  out.from = addresses[0];
  out.to = addresses[1];
  return out;
}

}  // namespace

SpoolToolArgs ParseSpoolToolArgs(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("no command");
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    SpoolToolArgs out;
    out.command = SpoolToolCommand::Help;
    return out;
  }
  if (command == "mail") return ParseMail(args);
  if (command == "trace") return ParseTrace(args);
  if (command == "run") {
    if (args.size() > 1) return Usage("run takes no arguments");
    SpoolToolArgs out;
    out.command = SpoolToolCommand::Run;
    return out;
  }
  return Usage("unknown command \"" + command + "\"");
}

}  // namespace pv
