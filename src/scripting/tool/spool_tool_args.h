#pragma once
// The arguments of `postvane-spool`: a command (mail, trace, run, --help) and its options.
// Pure: what to do, or why the arguments are wrong.
#include <string>
#include <utility>
#include <vector>

namespace pv {

enum class SpoolToolCommand { Help, Mail, Trace, Run, UsageError };

struct SpoolMailOptions {
  std::string subject, from, to, cc, bcc;
  std::vector<std::string> attachments;
  std::vector<std::pair<std::string, std::string>> headers;  // name, value
  std::string htmlFile;
  std::string sendAfter;  // as written; checked by the caller's date parser
  std::string returnTo;
  std::string spoolDir;
  bool run = true;  // ask for a run after spooling (--no-run: not)
};

struct SpoolToolArgs {
  SpoolToolCommand command = SpoolToolCommand::UsageError;
  std::string error;  // why not, for UsageError
  SpoolMailOptions mail;
  std::string dns;          // trace --dns; "" the system's servers
  bool probe = false;       // trace --probe: ask the SMTP servers too (never DATA)
  std::string from, to;     // trace
};

// args without the program name. Options take their value as the next argument or after "=".
SpoolToolArgs ParseSpoolToolArgs(const std::vector<std::string>& args);

extern const char* const kSpoolToolHelp;

}  // namespace pv
