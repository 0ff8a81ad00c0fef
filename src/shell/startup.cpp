#include "shell/startup.h"

#include <mutex>

#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

StartupValues& Values() {
  static StartupValues values;
  return values;
}

}  // namespace

CommandLineSwitches ParseSwitches(std::string_view commandLine) {
  const auto has = [&](std::string_view sw) {
    return FindNoCase(commandLine, sw) != std::string_view::npos;
  };
  CommandLineSwitches switches;
  switches.service = has("service=1");
  switches.settingsMode = has("settingsmode=1");
  switches.quiet = has("quiet=1");
  switches.debug = has("debug=1");
  return switches;
}

SettingsRecord SettingsRecordOf(bool isService) {
  if (isService) return {RegistryRoot::LocalMachine, kEventLogKey};
  return {RegistryRoot::CurrentUser, kSpoolerKey};
}

std::string FindSettingsFile(const std::string& programPath, bool isService,
                             StartupPlatform& platform) {
  if (std::string named = platform.SettingsFileOverride(); !named.empty()) return named;
  const Registry& registry = platform.registry();
  const SettingsRecord record = SettingsRecordOf(isService);
  const RegistryString recorded =
      registry.ReadRegistryString(record.root, record.key, kStartFilenameValue);
  if (recorded.found) return recorded.text;

  const std::string settingsFile = ChangeExtension(
      AddTrailingSeparator(platform.SettingsDirectory(isService)) + FileNamePart(programPath),
      "start");
  // The result is not looked at: without rights to the store the default is found again.
  registry.WriteRegistryString(record.root, record.key, kStartFilenameValue, settingsFile, false);
  return settingsFile;
}

StartupValues RunStartup(std::string_view commandLine, StartupPlatform& platform) {
  StartupValues v;
  const CommandLineSwitches switches = ParseSwitches(commandLine);
  v.IsService = switches.service;
  v.QuietMode = switches.quiet;
  v.DebugMode = switches.debug;
  v.SettingsMode = !v.IsService && (switches.settingsMode || platform.AnotherInstanceRunning() ||
                                    platform.IsRemoteSession());
  v.CsvQuote = "\"";
  v.SystemDNSAvailable = platform.SystemDnsServers(v.SystemDNSServers);
  if (!v.SystemDNSAvailable) v.SystemDNSServers.clear();
  v.DefaultReturnAddress = platform.DefaultMailAddress();
  v.DefaultSenderHostName = platform.LocalHostName();
  v.CsvSeparator = platform.ListSeparator();
  v.ProgramPath = LongPathOf(platform.ExecutablePath());
  v.ProgramDirectory = platform.ProgramDirectory(v.IsService);
  v.LogDirectory = platform.LogDirectory(v.IsService);
  v.ServiceName = kServiceName;
  v.ServiceDisplayName = kServiceDisplayName;
  v.ServiceDescription = kServiceDescription;
  v.SettingsFile = FindSettingsFile(v.ProgramPath, v.IsService, platform);
  v.SettingsWorkingCopy = ChangeExtension(v.SettingsFile, "start.tmp");
  return v;
}

const StartupValues& Startup() { return Values(); }

void InstallStartupValues(StartupValues values) { Values() = std::move(values); }

}  // namespace pv
