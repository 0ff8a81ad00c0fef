#include "shell/linux_startup_platform.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/system_info.h"
#include "platform/user_dirs.h"

namespace pv {

LinuxStartupPlatform::LinuxStartupPlatform(bool probesInstanceLock, bool serviceFilesForAnyUser)
    : registry_(DefaultRegistryLocations()),
      lock_(RuntimeDirectory()),
      probesInstanceLock_(probesInstanceLock),
      serviceFilesForAnyUser_(serviceFilesForAnyUser) {}

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
  return pv::ProgramDirectory(isService, serviceFilesForAnyUser_);
}

std::string LinuxStartupPlatform::SettingsDirectory(bool isService) {
  return pv::SettingsDirectory(isService, serviceFilesForAnyUser_);
}

std::string LinuxStartupPlatform::LogDirectory(bool isService) {
  return pv::LogDirectory(isService, serviceFilesForAnyUser_);
}

std::string LinuxStartupPlatform::SettingsFileOverride() {
  const char* named = std::getenv("POSTVANE_SETTINGS");
  return named == nullptr ? "" : named;
}

bool InstallToolStartup(bool serviceOption) {
  // Root and the system accounts have no spooler of their own: they mean the service.
  const bool service = serviceOption || IsSystemAccount(::geteuid());
  LinuxStartupPlatform platform(false, true);
  InstallStartupValues(RunStartup(service ? "service=1" : "", platform));
  return service;
}

}  // namespace pv
