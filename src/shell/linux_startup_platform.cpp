#include "shell/linux_startup_platform.h"

#include <cstdlib>

#include "platform/system_info.h"
#include "platform/user_dirs.h"

namespace pv {

LinuxStartupPlatform::LinuxStartupPlatform(bool probesInstanceLock)
    : registry_(DefaultRegistryLocations()),
      lock_(RuntimeDirectory()),
      probesInstanceLock_(probesInstanceLock) {}

bool LinuxStartupPlatform::AnotherInstanceRunning() {
  if (!probesInstanceLock_) return false;
  // A lock that cannot be made at all (no runtime directory) does not keep this one from running.
  return lock_.TryAcquire() == InstanceLock::Result::HeldByOther;
}

bool LinuxStartupPlatform::IsRemoteSession() { return pv::IsRemoteSession(); }

bool LinuxStartupPlatform::SystemDnsServers(std::string& servers) {
  return pv::SystemDnsServers(servers);
}

std::string LinuxStartupPlatform::DefaultMailAddress() { return GetDefaultMailAddress(); }

std::string LinuxStartupPlatform::LocalHostName() { return GetLocalHostName(); }

std::string LinuxStartupPlatform::ListSeparator() { return LocaleListSeparator(); }

std::string LinuxStartupPlatform::ExecutablePath() { return pv::ExecutablePath(); }

std::string LinuxStartupPlatform::ProgramDirectory(bool isService) {
  return pv::ProgramDirectory(isService);
}

std::string LinuxStartupPlatform::SettingsDirectory(bool isService) {
  return pv::SettingsDirectory(isService);
}

std::string LinuxStartupPlatform::LogDirectory(bool isService) {
  return pv::LogDirectory(isService);
}

std::string LinuxStartupPlatform::SettingsFileOverride() {
  const char* named = std::getenv("POSTVANE_SETTINGS");
  return named == nullptr ? "" : named;
}

}  // namespace pv
