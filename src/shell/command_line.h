#pragma once
// The program's arguments: the options that pick a command (--help, --deliver FILE, ...) and
// the switches ("service=1", ...) that RunStartup finds anywhere in the command line. Pure.
#include <string>
#include <vector>

namespace pv {

enum class Command { RunSpooler, Help, Version, SpoolNow, Status, Deliver, UsageError };

struct CommandLine {
  Command command = Command::RunSpooler;
  std::string file;   // the mail file of --deliver
  std::string error;  // why the arguments are a usage error
};

// Every argument that starts with "-" must be a known option, and --deliver needs the file
// after it; the first command given wins. Other arguments are left to the switches.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The arguments after the program's name, joined by single spaces, for reports and start-up.
std::string JoinArguments(int argc, char** argv);

// The one-line synopsis printed after a usage error.
const char* UsageLine();

}  // namespace pv
