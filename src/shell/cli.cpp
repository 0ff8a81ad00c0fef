#include "shell/cli.h"

#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/control_channel.h"
#include "platform/desktop_session.h"
#include "platform/system_info.h"
#include "platform/user_dirs.h"
#include "pv_version.h"
#include "shell/command_line.h"
#include "shell/deliver_command.h"
#include "shell/launch.h"
#include "shell/linux_startup_platform.h"
#include "shell/queue_command.h"
#include "shell/settings_commands.h"
#include "shell/startup.h"
#include "support/exit_codes.h"
#include "support/paths.h"

namespace pv {
namespace {

constexpr const char* kUsage = R"(Usage: postvane [switch=1 ...]
       postvane --deliver FILE
       postvane --spool-now | --status
       postvane [--service] --check-config | --show-config
       postvane [--service] --set-password relay|proxy
       postvane --help | --version

Postvane delivers the mails that scripts and programs drop into its spool
directory (complete MIME files, *.eml by default) by SMTP, retries failed
mails on a schedule and returns undeliverable ones to their sender.

Without service=1 it is the spooler of this user: at a desktop with an icon in
the panel's notification area and desktop notifications, else headless. A
second start asks the running spooler to show its settings.

Switches (found anywhere in the command line, without regard to case):
  service=1        run as the headless system service, in the foreground
  settingsmode=1   only offer the settings
  quiet=1          quiet mode for the scripting test
  debug=1          write debug lines (start, stop, settings loads, the begin and
                   end of each spool run) to Postvane_debug.out in the program
                   directory

  --spool-now      ask every running spooler this user can reach (the user's own
                   and the system service) for an immediate spool run
  --status         print the state, next run and spool directory of each of them
  --deliver FILE   read and check one mail file as the spool run does, deliver it
                   now with the current settings and print the whole SMTP protocol;
                   the file is left as it is. Exit code: 0 delivered, 75 failed for
                   now, 69 every remaining recipient refused for good, 65 not a valid
                   spool file, 66 missing or unreadable

Queue tools (on the spool directory of the user's own spooler; with --service,
or when run as root or a system account, on the system service's; "mailq" is
--queue):
  --queue [--json]     every mail: file, size, age, state (waiting, due, held,
                       in hand, error), attempts, next attempt, sender,
                       recipients left, subject and the last error
  --delete FILE...     remove waiting or held mails
  --hold FILE...       set waiting mails aside (FILE.hold); the spool run
                       leaves them alone
  --release FILE...    give held mails back, unchanged
  --retry-now FILE...|--all
                       make waiting mails due now and ask for a spool run
  A FILE is a name in the spool directory or a path inside it. A mail in hand
  (a spool run or its writer holds its lock) is never touched. When the
  service's spool directory cannot be read (a member of the group postvane),
  the tools ask the running service to do the work. Exit code: 0 done, 1 a
  mail was left as it was, or the directory cannot be read and the service
  does not answer.

Settings (of the user's own spooler; with --service, or when run as root or a
system account, of the system service's, /etc/postvane/postvane.start):
  --check-config       tell unknown or misspelt keys (with the closest known one),
                       keys in the wrong section, values that do not read as meant,
                       spool and log directories the spooler cannot write. Exit
                       code: 0 nothing to tell, 1 findings. The spooler tells the
                       same at every start and reload, on standard error and in the
                       system log.
  --show-config        every key: its value (passwords masked), its default and
                       where the value comes from (file, default, start-up value)
  --set-password relay|proxy
                       read the password of the relay (RelayPassword) or of the
                       SOCKS proxy (ProxyPassword) without echo from the terminal,
                       or the first line of standard input, and store it enciphered;
                       an empty one clears it

Any other argument that starts with "-" is a usage error (exit code 64).

Environment:
  POSTVANE_SETTINGS     the settings file to use (the recorded one is not consulted)
  POSTVANE_HOME         home of the spool directory, the logs and the settings
  POSTVANE_RUNTIME_DIR  home of the instance lock and the control socket
  POSTVANE_QUEUE_VIA_SERVICE=1
                        the queue tools on the service's spool go through
                        the service even when its directory can be read
  POSTVANE_MACHINE_REGISTRY  the machine-wide store that records the service's
                        settings file (default /etc/postvane/registry.ini)
)";

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

// A spooler of this user runs at this desktop: it raises its own settings window, so that what
// is saved there reaches it. Not from a remote session, whose user would not see the window.
bool HandedToRunningSpooler() {
  if (IsRemoteSession()) return false;
  const std::string socket = RuntimeDirectory() + "/" + kControlSocketName;
  if (!FileExists(socket)) return false;
  std::string error;
  if (SendControlRequest(socket, "SHOWSETTINGS", error, 2000) != "OK") return false;
  std::cout << "\nThe running spooler shows its settings window.\n";
  return true;
}

// Settings mode: the settings window, or without a desktop the settings in use and why.
int RunSettingsMode(int argc, char** argv, const StartupValues& startup,
                    const DesktopModes& desktop) {
  if (HandedToRunningSpooler()) return 0;
  const DesktopSession session = FindDesktopSession();
  if (session.reachable && desktop.runSettings) {
    if (!session.platform.empty()) ::setenv("QT_QPA_PLATFORM", session.platform.c_str(), 1);
    return desktop.runSettings(argc, argv, startup);
  }
  std::string text, error;
  if (DescribeSettingsFile(startup, text, error))
    std::cout << "\n" << text;
  else
    std::cerr << "postvane: " << startup.SettingsFile << ": cannot be read (" << error << ")\n";
  std::cerr << "postvane: settings mode needs a desktop session ("
            << (session.reason.empty() ? "this program has none" : session.reason) << ")\n";
  return 1;
}

// Tray mode where a desktop answers, else the headless spooler of this user.
int RunUserSpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock,
                   const DesktopModes& desktop) {
  if (desktop.runTray) {
    const DesktopSession session = FindDesktopSession();
    if (session.reachable) {
      if (!session.platform.empty()) ::setenv("QT_QPA_PLATFORM", session.platform.c_str(), 1);
      return desktop.runTray(argc, argv, startup, holdsInstanceLock);
    }
    std::cout << "\nNo desktop session (" << session.reason << "): spooling without a tray icon\n";
  }
  return RunSpooler(argc, argv, startup, holdsInstanceLock);
}

}  // namespace

int RunMain(int argc, char** argv, const DesktopModes& desktop) {
  // The codeset decides the system code page; numbers stay in the C locale.
  std::setlocale(LC_CTYPE, "");
  std::setlocale(LC_TIME, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  if (argc > 0 && CalledAsMailq(argv[0])) args.insert(args.begin(), "--queue");
  const CommandLine line = ParseCommandLine(args);
  switch (line.command) {
    case Command::UsageError:
      std::cerr << "postvane: " << line.error << "\n" << UsageLine()
                << "Try 'postvane --help' for more.\n";
      return kUsageErrorExit;
    case Command::Help: std::cout << kUsage; return 0;
    case Command::Version: std::cout << "Postvane " << POSTVANE_VERSION << "\n"; return 0;
    case Command::SpoolNow: return AskSpoolers("SPOOLNOW");
    case Command::Status: return AskSpoolers("STATUS");
    // The queue tools.
    case Command::Queue:
    case Command::Delete:
    case Command::Hold:
    case Command::Release:
    case Command::RetryNow: return RunQueueTool(line);
    // The settings commands.
    case Command::CheckConfig: return RunCheckConfig(line);
    case Command::ShowConfig: return RunShowConfig(line);
    case Command::SetPassword: return RunSetPassword(line);
    case Command::Deliver:
    case Command::RunSpooler: break;
  }
  LinuxStartupPlatform platform(line.command != Command::Deliver);
  InstallStartupValues(RunStartup(JoinArguments(argc, argv), platform));
  if (line.command == Command::Deliver) return DeliverFile(line.file, JoinArguments(argc, argv));
  const StartupValues& startup = Startup();
  PrintStartupValues(startup);
  if (startup.SettingsMode) return RunSettingsMode(argc, argv, startup, desktop);
  if (startup.IsService &&
      platform.instanceLock().TryAcquire() == InstanceLock::Result::HeldByOther) {
    std::cerr << "postvane: another spooler runs here (" << platform.instanceLock().path()
              << " is held)\n";
    return 1;
  }
  MakeDirectories(startup.ProgramDirectory);
  if (!startup.LogDirectory.empty()) MakeDirectories(RemoveTrailingSeparator(startup.LogDirectory));
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(startup.SettingsFile)));
  const bool holdsLock = platform.instanceLock().held();
  if (startup.IsService) return RunSpooler(argc, argv, startup, holdsLock);
  return RunUserSpooler(argc, argv, startup, holdsLock, desktop);
}

}  // namespace pv
