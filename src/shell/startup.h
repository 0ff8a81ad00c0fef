#pragma once
// The start-up procedure: reads the command line, decides the run mode and fixes the
// process-wide start-up values. It creates no window and starts nothing.
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace pv {

inline constexpr const char* kApplicationTitle = "Postvane";
inline constexpr const char* kServiceName = "PostvaneSpooler";
inline constexpr const char* kServiceDisplayName = "Postvane - COM Object and Spooler";
inline constexpr const char* kServiceDescription =
    "Delivers the mails that scripts and programs drop into a spool directory: by SMTP "
    "straight to the recipients' mail exchangers or through a relay host, optionally through "
    "a SOCKS proxy, with retries on a schedule, return mails to the sender and a daily log.";
// Where the settings file is recorded: the user's key, and the machine's key of the service.
inline constexpr const char* kSpoolerKey = "Software\\Tandrel\\PostvaneSpooler";
inline constexpr const char* kEventLogKey =
    "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\PostvaneSpooler";
inline constexpr const char* kStartFilenameValue = "StartFilename";

struct CommandLineSwitches {
  bool service = false;       // "service=1"
  bool settingsMode = false;  // "settingsmode=1"
  bool quiet = false;         // "quiet=1"
  bool debug = false;         // "debug=1"
};

// Each switch is a substring of the whole command line, found without regard to case.
CommandLineSwitches ParseSwitches(std::string_view commandLine);

struct StartupValues {
  bool IsService = false;
  bool SettingsMode = false;
  bool QuietMode = false;
  bool DebugMode = false;
  std::string CsvQuote;
  std::string CsvSeparator;
  bool SystemDNSAvailable = false;
  std::string SystemDNSServers;
  std::string DefaultReturnAddress;
  std::string DefaultSenderHostName;
  std::string ProgramPath;
  // Home of the spool directory, the logs and the debug file (see platform/user_dirs.h).
  std::string ProgramDirectory;
  // Default directory of the CSV logs; "" for beside the spooled mails.
  std::string LogDirectory;
  std::string SettingsFile;
  std::string SettingsWorkingCopy;
  std::string ServiceName;
  std::string ServiceDisplayName;
  std::string ServiceDescription;
};

// What start-up asks of the system. LinuxStartupPlatform answers for the running process;
// tests answer with their own.
class StartupPlatform {
 public:
  virtual ~StartupPlatform() = default;
  // Takes the single-instance lock; true when another instance holds it.
  virtual bool AnotherInstanceRunning() = 0;
  virtual bool IsRemoteSession() = 0;
  // False when the system's servers cannot be read.
  virtual bool SystemDnsServers(std::string& servers) = 0;
  virtual std::string DefaultMailAddress() = 0;
  virtual std::string LocalHostName() = 0;
  virtual std::string ListSeparator() = 0;
  virtual std::string ExecutablePath() = 0;
  virtual std::string ProgramDirectory(bool isService) = 0;
  virtual std::string SettingsDirectory(bool isService) = 0;
  virtual std::string LogDirectory(bool isService) = 0;
  // The settings file named by POSTVANE_SETTINGS; "" when unset.
  virtual std::string SettingsFileOverride() = 0;
  virtual const Registry& registry() = 0;
};

StartupValues RunStartup(std::string_view commandLine, StartupPlatform& platform);

// Where the settings file of a run mode is recorded: the service reads and writes only the
// machine's record, every other run only the user's own, so that no desktop or command-line
// run (of root, say) can move the service to other settings.
struct SettingsRecord {
  RegistryRoot root;
  const char* key;
};
SettingsRecord SettingsRecordOf(bool isService);

// The settings file: POSTVANE_SETTINGS; else the run mode's recorded "StartFilename" (used
// even when empty); else <settings directory>/<program name>.start, then recorded there.
std::string FindSettingsFile(const std::string& programPath, bool isService,
                             StartupPlatform& platform);

// The values of this process, fixed once by the entry point.
const StartupValues& Startup();
void InstallStartupValues(StartupValues values);

}  // namespace pv
