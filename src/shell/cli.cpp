#include "shell/cli.h"

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "engine/delivery.h"
#include "engine/spool_file.h"
#include "pv_version.h"
#include "shell/launch.h"
#include "shell/linux_startup_platform.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/textfile.h"

namespace pv {
namespace {

constexpr const char* kUsage = R"(Usage: postvane [switch=1 ...]
       postvane --deliver FILE
       postvane --spool-now | --status
       postvane --help | --version

Postvane delivers the mails that scripts and programs drop into its spool
directory (complete MIME files, *.eml by default) by SMTP, retries failed
mails on a schedule and returns undeliverable ones to their sender.

Switches (found anywhere in the command line, without regard to case):
  service=1        run as the headless system service, in the foreground
  settingsmode=1   only offer the settings
  quiet=1          quiet mode for the scripting test
  debug=1          write debug lines to Postvane_debug.out in the program directory

  --spool-now      ask every running spooler this user can reach (the user's own
                   and the system service) for an immediate spool run
  --status         print the state, next run and spool directory of each of them
  --deliver FILE   deliver one mail file now with the current settings and print
                   the whole SMTP protocol; the file is left as it is

Environment:
  POSTVANE_SETTINGS     the settings file to use (the recorded one is not consulted)
  POSTVANE_HOME         home of the spool directory, the logs and the settings
  POSTVANE_RUNTIME_DIR  home of the instance lock and the control socket
)";

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  return line;
}

void PrintStartupValues(const StartupValues& v) {
  const auto flag = [](bool b) { return b ? "true" : "false"; };
  std::cout << "Start-up values\n"
            << "  IsService             = " << flag(v.IsService) << "\n"
            << "  SettingsMode          = " << flag(v.SettingsMode) << "\n"
            << "  QuietMode             = " << flag(v.QuietMode) << "\n"
            << "  DebugMode             = " << flag(v.DebugMode) << "\n"
            << "  CsvQuote              = " << v.CsvQuote << "\n"
            << "  CsvSeparator          = " << v.CsvSeparator << "\n"
            << "  SystemDNSAvailable    = " << flag(v.SystemDNSAvailable) << "\n"
            << "  SystemDNSServers      = " << v.SystemDNSServers << "\n"
            << "  DefaultReturnAddress  = " << v.DefaultReturnAddress << "\n"
            << "  DefaultSenderHostName = " << v.DefaultSenderHostName << "\n"
            << "  ProgramPath           = " << v.ProgramPath << "\n"
            << "  ProgramDirectory      = " << v.ProgramDirectory << "\n"
            << "  SettingsFile          = " << v.SettingsFile << "\n"
            << "  SettingsWorkingCopy   = " << v.SettingsWorkingCopy << "\n"
            << "  ServiceName           = " << v.ServiceName << "\n"
            << "  ServiceDisplayName    = " << v.ServiceDisplayName << "\n";
}

// Settings mode: the settings window comes with the desktop edition; show what it would edit.
int ShowSettingsOnly(const StartupValues& startup) {
  std::cout << "\nSettings mode: the settings window comes with the desktop edition.\n"
            << "Settings file: " << startup.SettingsFile << "\n";
  return 0;
}

// Prints each result where a person reads it.
class ConsoleReporter : public ResultReporter {
 public:
  void ReportResult(ResultKind kind, const std::string&, const std::string& recipients,
                    const std::string&, std::int32_t exitCode, const std::string& message,
                    const std::string&) override {
    std::cout << (kind == kResultSuccess ? "Delivered" : "Failed") << " (exit code " << exitCode
              << ", recipients " << recipients << "):\n" << message << "\n";
  }
};

// Delivers one mail file as the spool run would, without touching the file.
int DeliverFile(const std::string& path, const std::string& commandLine) {
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(Startup().SettingsFile)));
  LoadSettings();
  std::string text, encoding;
  IoError error;
  if (!ReadSpoolText(path, text, encoding, error)) {
    std::cerr << "postvane: " << error.text << "\n";
    return 2;
  }
  SpoolFile file;
  file.Path = path;
  ParseSpoolText(std::move(text), LocalDateTime::Now(), file);
  const SpoolerSettings settings = SettingsSnapshot();
  MailTransport transport;
  ConsoleReporter reporter;
  std::string protocol, served;
  const bool ok = DeliverMailParts(RecipientsOf(file), file.SendHeaders, file.Body(), protocol,
                                   served, {transport, settings, reporter, file.From, file.Subject,
                                            commandLine});
  transport.CloseAllSessions();
  std::cout << "\nProtocol:\n" << protocol;
  if (!served.empty()) std::cout << "\nServed: " << served << "\n";
  return ok ? 0 : 1;
}

}  // namespace

int RunMain(int argc, char** argv) {
  // The codeset decides the system code page; numbers stay in the C locale.
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_TIME, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "Postvane " << POSTVANE_VERSION << "\n";
      return 0;
    }
    if (arg == "--spool-now") return AskSpoolers("SPOOLNOW");
    if (arg == "--status") return AskSpoolers("STATUS");
  }
  LinuxStartupPlatform platform;
  InstallStartupValues(RunStartup(JoinArguments(argc, argv), platform));
  if (args.size() >= 2 && args[0] == "--deliver") return DeliverFile(args[1], JoinArguments(argc, argv));
  const StartupValues& startup = Startup();
  PrintStartupValues(startup);
  if (startup.SettingsMode) return ShowSettingsOnly(startup);
  if (startup.IsService &&
      platform.instanceLock().TryAcquire() == InstanceLock::Result::HeldByOther) {
    std::cerr << "postvane: another spooler runs here (" << platform.instanceLock().path()
              << " is held)\n";
    return 1;
  }
  MakeDirectories(startup.ProgramDirectory);
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(startup.SettingsFile)));
  return RunSpooler(argc, argv, startup, platform.instanceLock().held());
}

}  // namespace pv
