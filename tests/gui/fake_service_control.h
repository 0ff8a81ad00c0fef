#pragma once
// A service manager for window tests: answers what the test set and records every request.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "service/service_control.h"

namespace pv {

class FakeService : public ServiceControl {
 public:
  int startType = kStartAutomatic;
  int state = kServiceStopped;
  bool succeeds = true;
  // Requests that fail even when `succeeds`, by the first word of their record ("install").
  std::set<std::string> failing;
  // A request that succeeds changes state and start type the way the real manager's would:
  // install gives its start type, uninstall "no such service", start and continue running,
  // stop stopped, pause paused.
  bool followsRequests = false;
  // Runs inside every request, before its answer (the record is already in `calls`).
  std::function<void(const std::string& call)> onCall;
  // Every request in order: "start", "stop", "pause", "continue", "install 2", "uninstall",
  // "starttype 3".
  std::vector<std::string> calls;

  int QueryServiceStartType() override { return startType; }
  int QueryServiceState() override { return state; }
  bool ChangeServiceStartType(int type) override {
    return record("starttype " + std::to_string(type), [&] { startType = type; });
  }
  bool StartServiceAndWait(int) override {
    return record("start", [&] { state = kServiceRunning; });
  }
  bool StopServiceAndWait(int) override {
    return record("stop", [&] { state = kServiceStopped; });
  }
  bool PauseServiceAndWait(int) override {
    return record("pause", [&] { state = kServicePaused; });
  }
  bool ContinueServiceAndWait(int) override {
    return record("continue", [&] { state = kServiceRunning; });
  }
  bool InstallService(int type) override {
    return record("install " + std::to_string(type), [&] {
      startType = type;
      state = kServiceStopped;
    });
  }
  bool UninstallService() override {
    return record("uninstall", [&] { startType = kNoSuchService; });
  }

 private:
  bool record(const std::string& call, const std::function<void()>& follow) {
    calls.push_back(call);
    if (onCall) onCall(call);
    const bool ok = succeeds && !failing.contains(call.substr(0, call.find(' ')));
    if (ok && followsRequests) follow();
    return ok;
  }
};

}  // namespace pv
