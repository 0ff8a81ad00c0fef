#include "shell/command_line.h"

#include <optional>
#include <string_view>

#include "support/text.h"

namespace pv {
namespace {

std::optional<Command> QueueOptionCommand(std::string_view arg);

std::optional<Command> OptionCommand(std::string_view arg) {
  if (const std::optional<Command> queue = QueueOptionCommand(arg)) return queue;
  if (arg == "--help" || arg == "-h") return Command::Help;
  if (arg == "--version") return Command::Version;
  if (arg == "--spool-now") return Command::SpoolNow;
  if (arg == "--status") return Command::Status;
  if (arg == "--deliver") return Command::Deliver;
  if (arg == "--check-config") return Command::CheckConfig;
  if (arg == "--show-config") return Command::ShowConfig;
  if (arg == "--set-password") return Command::SetPassword;
  return std::nullopt;
}

CommandLine UsageError(std::string error) {
  CommandLine line;
  line.command = Command::UsageError;
  line.error = std::move(error);
  return line;
}

// ---- The queue tools ----------------------------------------------------------------------

std::optional<Command> QueueOptionCommand(std::string_view arg) {
  if (arg == "--queue") return Command::Queue;
  if (arg == "--delete") return Command::Delete;
  if (arg == "--hold") return Command::Hold;
  if (arg == "--release") return Command::Release;
  if (arg == "--retry-now") return Command::RetryNow;
  return std::nullopt;
}

bool IsQueueTool(Command command) {
  return command == Command::Queue || command == Command::Delete || command == Command::Hold ||
         command == Command::Release || command == Command::RetryNow;
}

bool IsSettingsCommand(Command command) {
  return command == Command::CheckConfig || command == Command::ShowConfig ||
         command == Command::SetPassword;
}

// The options that only modify a queue tool; they may stand anywhere.
bool TakeQueueModifier(std::string_view arg, CommandLine& line) {
  if (arg == "--json") return line.json = true;
  if (arg == "--all") return line.all = true;
  if (arg == "--service") return line.service = true;
  return false;
}

bool IsSwitchWord(std::string_view arg) {
  for (std::string_view word : {"service=1", "settingsmode=1", "quiet=1", "debug=1"})
    if (EqualsNoCase(arg, word)) return true;
  return false;
}

// The mails after a queue tool: every following argument up to the next option (a file whose
// name starts with "-" is given as ./-name); the switches are not mails.
std::vector<std::string> TakeFiles(const std::vector<std::string>& args, std::size_t& i) {
  std::vector<std::string> files;
  while (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1].front() != '-' &&
         !IsSwitchWord(args[i + 1]))
    files.push_back(args[++i]);
  return files;
}

// Why the queue tools' arguments do not fit together; "" when they do.
std::string QueueUsageError(const CommandLine& line) {
  const bool tool = IsQueueTool(line.command);
  if (line.service && !tool && !IsSettingsCommand(line.command))
    return "--service goes with a queue tool or a settings command (--queue, --check-config, ...)";
  if (line.json && line.command != Command::Queue) return "--json goes with --queue";
  if (line.all && line.command != Command::RetryNow) return "--all goes with --retry-now";
  if (line.command == Command::Queue && !line.files.empty()) return "--queue takes no files";
  if (line.command == Command::RetryNow && line.all == line.files.empty()) return "";
  if (line.command == Command::RetryNow)
    return line.all ? "--retry-now takes files or --all, not both" : "--retry-now needs files or --all";
  if (tool && line.command != Command::Queue && line.files.empty())
    return "the queue tool needs the mails to work on";
  return "";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool chosen = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty() || arg.front() != '-') continue;  // a switch, or text the switches ignore
    if (TakeQueueModifier(arg, line)) continue;
    const std::optional<Command> command = OptionCommand(arg);
    if (!command) return UsageError("unknown option '" + arg + "'");
    std::string file;
    if (*command == Command::Deliver) {
      // A file whose name starts with "-" is given as ./-name.
      if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].front() == '-')
        return UsageError("--deliver needs the mail file to deliver");
      file = args[++i];
    }
    if (*command == Command::SetPassword) {
      if (i + 1 >= args.size() || (args[i + 1] != "relay" && args[i + 1] != "proxy"))
        return UsageError("--set-password needs relay or proxy");
      file = args[++i];
    }
    std::vector<std::string> files;
    if (IsQueueTool(*command)) files = TakeFiles(args, i);
    if (chosen) continue;
    chosen = true;
    line.command = *command;
    line.file = std::move(file);
    line.files = std::move(files);
  }
  if (std::string error = QueueUsageError(line); !error.empty()) return UsageError(error);
  return line;
}

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  return line;
}

bool CalledAsMailq(std::string_view programPath) {
  const std::size_t slash = programPath.rfind('/');
  return programPath.substr(slash == std::string_view::npos ? 0 : slash + 1) == "mailq";
}

const char* UsageLine() {
  return "Usage: postvane [service=1] [settingsmode=1] [quiet=1] [debug=1]\n"
         "       postvane --deliver FILE | --spool-now | --status | --help | --version\n"
         "       postvane [--service] --queue [--json] | --delete FILE... | --hold FILE...\n"
         "                | --release FILE... | --retry-now FILE...|--all\n"
         "       postvane [--service] --check-config | --show-config\n"
         "       postvane [--service] --set-password relay|proxy\n";
}

}  // namespace pv
