#pragma once
// A service manager for window tests: answers what the test set and records every request.
#include <string>
#include <vector>

#include "service/service_control.h"

namespace pv {

class FakeService : public ServiceControl {
 public:
  int startType = kStartAutomatic;
  int state = kServiceStopped;
  bool succeeds = true;
  // Every request in order: "start", "stop", "pause", "continue", "install 2", "uninstall",
  // "starttype 3".
  std::vector<std::string> calls;

  int QueryServiceStartType() override { return startType; }
  int QueryServiceState() override { return state; }
  bool ChangeServiceStartType(int type) override {
    return record("starttype " + std::to_string(type));
  }
  bool StartServiceAndWait(int) override { return record("start"); }
  bool StopServiceAndWait(int) override { return record("stop"); }
  bool PauseServiceAndWait(int) override { return record("pause"); }
  bool ContinueServiceAndWait(int) override { return record("continue"); }
  bool InstallService(int type) override { return record("install " + std::to_string(type)); }
  bool UninstallService() override { return record("uninstall"); }

 private:
  bool record(const std::string& call) {
    calls.push_back(call);
    return succeeds;
  }
};

}  // namespace pv
