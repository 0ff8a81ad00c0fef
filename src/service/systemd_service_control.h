#pragma once
// The system service as systemd runs it: state, start type, start and stop through systemd's
// manager on the system bus (service/systemd_bus.h), pause and continue through the spooler's
// control channel. Install and remove work on the unit file that the installation ships
// outside systemd's search path: installing links (or enables) that file into /etc, removing
// takes the links away again, so "installed" means "systemd knows a unit of this name".
// docs/service-control.md tells the whole mapping.
#include <functional>
#include <string>
#include <vector>

#include "platform/control_channel.h"
#include "service/service_control.h"
#include "service/systemd_bus.h"

namespace pv {

// The unit file the installation ships: $POSTVANE_UNIT_FILE when set; else
// <directory of the running program>/../share/postvane/PostvaneSpooler.service when that
// exists (an installation moved to another prefix); else where the build installs it.
std::string ShippedUnitFile();

// The service one SystemdServiceControl is bound to.
struct ServiceDefinition {
  std::string serviceName = "PostvaneSpooler";
  // The unit keeps the service's name, so that `systemctl status PostvaneSpooler` finds it.
  std::string unitName = "PostvaneSpooler.service";
  // The shipped unit file (absolute): what install and the start-type changes link.
  std::string unitFile = ShippedUnitFile();
  // The running service's control channel (PAUSE, CONTINUE, STATE).
  std::string controlSocket = ServiceControlSocket();
};

// What tests replace.
struct ServiceControlHooks {
  // Waits that many seconds between two polls; the default runs an event loop meanwhile, so
  // that the caller's window keeps working.
  std::function<void(int seconds)> wait;
  // Whether the user may install and remove (default IsUserAdministrator).
  std::function<bool()> isAdministrator;
  // Why the unit file must not become a root service, "" when it may (default
  // UnitSafetyProblem, service/unit_safety.h).
  std::function<std::string(const std::string& unitFile)> unitSafetyProblem;
};

// An event loop that runs for that many seconds (a plain sleep without an application).
void WaitWithEvents(int seconds);

class SystemdServiceControl : public ServiceControl {
 public:
  explicit SystemdServiceControl(ServiceDefinition definition = {}, SystemdBus bus = SystemdBus(),
                                 ServiceControlHooks hooks = {});

  int QueryServiceStartType() override;
  int QueryServiceState() override;
  bool ChangeServiceStartType(int startType) override;
  bool StartServiceAndWait(int timeoutSeconds = 0) override;
  bool StopServiceAndWait(int timeoutSeconds = 0) override;
  bool PauseServiceAndWait(int timeoutSeconds = 0) override;
  bool ContinueServiceAndWait(int timeoutSeconds = 0) override;
  bool InstallService(int startType) override;
  bool UninstallService() override;
  std::string LastError() const override { return lastError_; }

  const ServiceDefinition& definition() const { return definition_; }

 private:
  // The unit's object path, loading the unit when systemd has not; "" with lastError_ set.
  std::string UnitPath();
  // QueryServiceState; a unit without its file that is not running counts as stopped when
  // stoppedWithoutFile is set (else kServiceUnknown: not installed).
  int ReadState(bool stoppedWithoutFile);
  // Whether the spooler's STATE answer says paused (false when it does not answer).
  bool SpoolerPaused();
  // Polls the state up to timeoutSeconds (0: 60) times for `target`.
  bool WaitForState(int target, int timeoutSeconds);
  // The same with the state read by `read`.
  bool WaitFor(int target, int timeoutSeconds, const std::function<int()>& read);
  // Running or paused as the spooler's STATE answer says; kServiceUnknown without an answer.
  int SpoolerState();
  // The shipped unit file exists and may become a root service; false with lastError_ set.
  bool LinkableUnitFile();
  // Puts the unit's links back as they were for this start type (after a change that was
  // refused half way); keeps the error of the refusal.
  void RestoreStartType(int startType);
  // A control request ("PAUSE", "CONTINUE") that the spooler must answer "OK".
  bool SendToSpooler(const std::string& request);
  // Runs a unit-file request and keeps its error; true when it succeeded.
  bool Request(const char* what, const BusReply& reply);
  bool Fail(std::string why);
  std::vector<std::string> Name() const { return {definition_.unitName}; }
  std::vector<std::string> File() const { return {definition_.unitFile}; }

  ServiceDefinition definition_;
  SystemdBus bus_;
  ServiceControlHooks hooks_;
  std::string lastError_;
};

}  // namespace pv
