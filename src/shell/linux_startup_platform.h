#pragma once
// Start-up's questions answered by the running Linux system.
#include <memory>

#include "platform/instance_lock.h"
#include "shell/startup.h"

namespace pv {

class LinuxStartupPlatform : public StartupPlatform {
 public:
  // probesInstanceLock false: a one-off command (--deliver) that must not hold the lock a
  // spooler starting meanwhile needs; AnotherInstanceRunning then answers false.
  // serviceFilesForAnyUser: "service=1" means the system service's directories even when not
  // run by root (see ProgramDirectory in platform/user_dirs.h).
  explicit LinuxStartupPlatform(bool probesInstanceLock = true,
                                bool serviceFilesForAnyUser = false);

  bool AnotherInstanceRunning() override;
  bool IsRemoteSession() override;
  bool SystemDnsServers(std::string& servers) override;
  std::string DefaultMailAddress() override;
  std::string LocalHostName() override;
  std::string ListSeparator() override;
  std::string ExecutablePath() override;
  std::string ProgramDirectory(bool isService) override;
  std::string SettingsDirectory(bool isService) override;
  std::string LogDirectory(bool isService) override;
  std::string SettingsFileOverride() override;
  const Registry& registry() override { return registry_; }

  // The lock taken by AnotherInstanceRunning (or TakeInstanceLock); held for the process's life.
  InstanceLock& instanceLock() { return lock_; }

 private:
  Registry registry_;
  InstanceLock lock_;
  bool probesInstanceLock_;
  bool serviceFilesForAnyUser_;
};

// Start-up of a one-off command (the queue tools, the settings commands): the user's own
// spooler's values or, with --service or as root (root has no spooler of its own), the system
// service's. Installs the values; true when they are the service's.
bool InstallToolStartup(bool serviceOption);

}  // namespace pv
