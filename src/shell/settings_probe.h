#pragma once
// The settings check's questions answered by the running system: can the spooler's user write
// a directory, is the system log socket there.
#include <string>
#include <sys/types.h>
#include <vector>

#include "settings/settings_check.h"

namespace pv {

class SystemSettingsProbe : public SettingsProbe {
 public:
  // For a spooler that runs as this process's user.
  static SystemSettingsProbe ForThisProcess();
  // For the system service: the user "postvane" when it exists, else root.
  static SystemSettingsProbe ForService();

  std::string DirectoryProblem(const std::string& directory) override;
  std::string SystemLogProblem() override;

 private:
  SystemSettingsProbe(std::string userName, uid_t uid, std::vector<gid_t> groups, bool self)
      : userName_(std::move(userName)), uid_(uid), groups_(std::move(groups)), self_(self) {}

  std::string userName_;
  uid_t uid_;
  std::vector<gid_t> groups_;
  bool self_;  // the user is this process's: access() answers, ACLs and read-only mounts included
};

}  // namespace pv
