#include "shell/settings_state.h"

#include <mutex>

#include "shell/debug_line.h"
#include "shell/startup.h"

namespace pv {
namespace {

std::mutex settingsMutex;
SpoolerSettings settingsRecord;

}  // namespace

SettingsDefaults SettingsDefaultsOf(const StartupValues& startup) {
  return {startup.SystemDNSServers, startup.DefaultSenderHostName, startup.DefaultReturnAddress,
          startup.ProgramDirectory, startup.LogDirectory};
}

bool LoadSettingsRecord() {
  const StartupValues& startup = Startup();
  const SettingsDefaults defaults = SettingsDefaultsOf(startup);
  // Load into a copy: a failing step keeps the field's former value.
  SpoolerSettings loaded = SettingsSnapshot();
  const bool ok = LoadSettings(startup.SettingsFile, defaults, loaded);
  {
    std::lock_guard lock(settingsMutex);
    settingsRecord = std::move(loaded);
  }
  TraceDebug({"Settings loaded", startup.SettingsFile, ok ? "complete" : "not all read"});
  return ok;
}

SpoolerSettings SettingsSnapshot() {
  std::lock_guard lock(settingsMutex);
  return settingsRecord;
}

}  // namespace pv
