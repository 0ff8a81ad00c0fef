#include "shell/cli.h"

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "pv_version.h"
#include "shell/linux_startup_platform.h"
#include "shell/settings_state.h"
#include "shell/startup.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr const char* kUsage = R"(Usage: postvane [switch=1 ...]
       postvane --help | --version

Postvane delivers the mails that scripts and programs drop into its spool
directory (complete MIME files, *.eml by default) by SMTP, retries failed
mails on a schedule and returns undeliverable ones to their sender.

Switches (found anywhere in the command line, without regard to case):
  service=1        run as the headless system service, in the foreground
  settingsmode=1   only offer the settings
  quiet=1          quiet mode for the scripting test
  debug=1          write debug lines to Postvane_debug.out in the program directory

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

// Until the spool run exists, the launch loads and shows the settings.
int Launch(const StartupValues& startup) {
  if (startup.SettingsMode) {
    std::cout << "\nSettings mode: the settings window comes with the desktop edition.\n";
    return 0;
  }
  MakeDirectories(startup.ProgramDirectory);
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(startup.SettingsFile)));
  const bool loaded = LoadSettings();
  const SpoolerSettings settings = SettingsSnapshot();
  std::cout << "\nSettings (" << startup.SettingsFile << (loaded ? "" : ", not all read")
            << ")\n";
  for (const std::string& line : Split(DescribeSettings(settings), '\n'))
    if (!line.empty()) std::cout << "  " << line << "\n";
  std::cout << "\nSpool directory: " << DirectoryPart(settings.SpoolFilePattern) << "\n"
            << "Spooling is not part of this build yet; the spool run comes next.\n";
  return 0;
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
  }
  LinuxStartupPlatform platform;
  InstallStartupValues(RunStartup(JoinArguments(argc, argv), platform));
  const StartupValues& startup = Startup();
  if (startup.IsService &&
      platform.instanceLock().TryAcquire() == InstanceLock::Result::HeldByOther) {
    std::cerr << "postvane: another spooler holds " << platform.instanceLock().path() << "\n";
  }
  PrintStartupValues(startup);
  return Launch(startup);
}

}  // namespace pv
