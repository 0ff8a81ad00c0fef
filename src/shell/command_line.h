#pragma once
// The program's arguments: the options that pick a command (--help, --deliver FILE, ...) and
// the switches ("service=1", ...) that RunStartup finds anywhere in the command line. Pure.
#include <string>
#include <string_view>
#include <vector>

namespace pv {

enum class Command {
  RunSpooler, Help, Version, SpoolNow, Status, Deliver, UsageError,
  // The queue tools.
  Queue, Delete, Hold, Release, RetryNow,
  // The settings commands.
  CheckConfig, ShowConfig, SetPassword,
};

struct CommandLine {
  Command command = Command::RunSpooler;
  std::string file;   // the mail file of --deliver; "relay" or "proxy" for --set-password
  std::string error;  // why the arguments are a usage error

  // The queue tools: the mails named, and what modifies them.
  std::vector<std::string> files;  // of --delete, --hold, --release, --retry-now
  bool json = false;     // --queue --json
  bool all = false;      // --retry-now --all
  bool service = false;  // --service: the service's spool directory or settings
};

// Every argument that starts with "-" must be a known option, --deliver needs the file after
// it and --set-password "relay" or "proxy"; the first command given wins. Other arguments are left to the switches.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The arguments after the program's name, joined by single spaces, for reports and start-up.
std::string JoinArguments(int argc, char** argv);

// Whether the program was called as "mailq" (argv[0], any directory): the queue listing.
bool CalledAsMailq(std::string_view programPath);

// The one-line synopsis printed after a usage error.
const char* UsageLine();

}  // namespace pv
