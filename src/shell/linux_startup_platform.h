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
  explicit LinuxStartupPlatform(bool probesInstanceLock = true);

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
};

}  // namespace pv
