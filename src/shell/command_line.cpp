#include "shell/command_line.h"

#include <optional>
#include <string_view>

namespace pv {
namespace {

std::optional<Command> OptionCommand(std::string_view arg) {
  if (arg == "--help" || arg == "-h") return Command::Help;
  if (arg == "--version") return Command::Version;
  if (arg == "--spool-now") return Command::SpoolNow;
  if (arg == "--status") return Command::Status;
  if (arg == "--deliver") return Command::Deliver;
  return std::nullopt;
}

CommandLine UsageError(std::string error) {
  return {Command::UsageError, "", std::move(error)};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool chosen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg.front() != '-') continue;  // a switch, or text the switches ignore
    const std::optional<Command> command = OptionCommand(arg);
    if (!command) return UsageError("unknown option '" + arg + "'");
    std::string file;
    if (*command == Command::Deliver) {
      // A file whose name starts with "-" is given as ./-name.
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].front() == '-')
        return UsageError("--deliver needs the mail file to deliver");
      file = args[++i];
    }
    if (chosen) continue;
    chosen = true;
    line.command = *command;
    line.file = std::move(file);
  }
  return line;
}

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  return line;
}

const char* UsageLine() {
  return "Usage: postvane [service=1] [settingsmode=1] [quiet=1] [debug=1]\n"
         "       postvane --deliver FILE | --spool-now | --status | --help | --version\n";
}

}  // namespace pv
