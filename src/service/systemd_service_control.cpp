#include "service/systemd_service_control.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/system_info.h"
#include "service/service_state.h"
#include "service/unit_safety.h"

#ifndef POSTVANE_INSTALLED_UNIT_FILE
#define POSTVANE_INSTALLED_UNIT_FILE "/usr/local/share/postvane/PostvaneSpooler.service"
#endif

namespace pv {
namespace {

// The spooler's STATE answer comes from the event loop of a running program: a short wait.
constexpr int kStateAnswerTimeoutMs = 2000;

std::string StateText(int state) {
  static constexpr const char* kNames[] = {"unknown", "stopped", "start pending", "stop pending",
                                           "running", "continue pending", "pause pending", "paused"};
  return state >= 0 && state <= kServicePaused ? kNames[state] : std::to_string(state);
}

}  // namespace

std::string ShippedUnitFile() {
  const char* named = std::getenv("POSTVANE_UNIT_FILE");
  if (named != nullptr && *named != '\0') return named;
  const std::string program = ExecutablePath();
  if (!program.empty()) {
    const std::filesystem::path beside =
        (std::filesystem::path(program).parent_path() / "../share/postvane/PostvaneSpooler.service")
            .lexically_normal();
    std::error_code ignored;
    if (std::filesystem::exists(beside, ignored)) return beside.string();
  }
  return POSTVANE_INSTALLED_UNIT_FILE;
}

void WaitWithEvents(int seconds) {
  if (seconds <= 0) return;
  if (QCoreApplication::instance() == nullptr) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(std::chrono::seconds(seconds), &loop, &QEventLoop::quit);
  loop.exec();
}

SystemdServiceControl::SystemdServiceControl(ServiceDefinition definition, SystemdBus bus,
                                             ServiceControlHooks hooks)
    : definition_(std::move(definition)), bus_(std::move(bus)), hooks_(std::move(hooks)) {
  if (!hooks_.wait) hooks_.wait = WaitWithEvents;
  if (!hooks_.isAdministrator) hooks_.isAdministrator = [] { return IsUserAdministrator(); };
  if (!hooks_.unitSafetyProblem)
    hooks_.unitSafetyProblem = [](const std::string& file) { return UnitSafetyProblem(file); };
}

bool SystemdServiceControl::Fail(std::string why) {
  lastError_ = std::move(why);
  return false;
}

bool SystemdServiceControl::Request(const char* what, const BusReply& reply) {
  if (reply.ok()) return true;
  return Fail(std::string(what) + " " + definition_.unitName + ": " + reply.ErrorText());
}

// ---- Queries ----

int SystemdServiceControl::QueryServiceStartType() {
  lastError_.clear();
  const BusReply reply = bus_.GetUnitFileState(definition_.unitName);
  if (!reply.ok()) {
    Request("GetUnitFileState", reply);
    return StartTypeFromBusError(reply.errorName);
  }
  const int startType = StartTypeFromUnitFileState(reply.Text());
  if (startType == kStartTypeUnexpected)
    Fail(definition_.unitName + " has the unit file state '" + reply.Text() + "', which names no start type");
  return startType;
}

std::string SystemdServiceControl::UnitPath() {
  BusReply unit = bus_.GetUnit(definition_.unitName);
  if (unit.ok()) return unit.Text();
  // GetUnit knows only units systemd has loaded; LoadUnit loads a stopped one from its file.
  if (unit.errorName == "org.freedesktop.systemd1.NoSuchUnit") {
    unit = bus_.LoadUnit(definition_.unitName);
    return Request("LoadUnit", unit) ? unit.Text() : "";
  }
  Request("GetUnit", unit);
  return {};
}

bool SystemdServiceControl::SpoolerPaused() {
  std::string error;
  return StateLineSaysPaused(
      SendControlRequest(definition_.controlSocket, "STATE", error, kStateAnswerTimeoutMs));
}

int SystemdServiceControl::QueryServiceState() { return ReadState(false); }

int SystemdServiceControl::ReadState(bool stoppedWithoutFile) {
  lastError_.clear();
  const std::string path = UnitPath();
  if (path.empty()) return kServiceUnknown;
  const BusReply load = bus_.UnitProperty(path, "LoadState");
  if (!Request("LoadState of", load)) return kServiceUnknown;
  const BusReply active = bus_.UnitProperty(path, "ActiveState");
  if (!Request("ActiveState of", active)) return kServiceUnknown;
  const std::string activeState = active.Text();
  // A unit without its file is not installed; but one removed while it runs still runs (and
  // can be stopped) until it stops.
  if (load.Text() == "not-found" && (activeState == "inactive" || activeState == "failed")) {
    if (stoppedWithoutFile) return kServiceStopped;
    Fail(definition_.unitName + " is not installed");
    return kServiceUnknown;
  }
  // Only a running service can be paused; only then is the spooler asked.
  const bool running = activeState == "active" || activeState == "reloading";
  const int state = ServiceStateFromActiveState(activeState, running && SpoolerPaused());
  if (state == kServiceUnknown)
    Fail(definition_.unitName + " has the ActiveState '" + activeState + "', which names no state");
  return state;
}

// ---- Waiting operations ----

int SystemdServiceControl::SpoolerState() {
  std::string error;
  const std::string answer =
      SendControlRequest(definition_.controlSocket, "STATE", error, kStateAnswerTimeoutMs);
  if (answer.empty()) {
    Fail("the service does not answer: " + error);
    return kServiceUnknown;
  }
  return StateLineSaysPaused(answer) ? kServicePaused : kServiceRunning;
}

bool SystemdServiceControl::WaitForState(int target, int timeoutSeconds) {
  // A stop of a service removed while it ran ends with the unit gone: stopped all the same.
  return WaitFor(target, timeoutSeconds, [this, target] { return ReadState(target == kServiceStopped); });
}

bool SystemdServiceControl::WaitFor(int target, int timeoutSeconds, const std::function<int()>& read) {
  const int polls = timeoutSeconds <= 0 ? kDefaultServiceWaitSeconds : timeoutSeconds;
  for (int poll = 1;; ++poll) {
    const int state = read();
    if (state == target) return true;
    if (state == kServiceUnknown) return false;
    if (poll >= polls)
      return Fail(definition_.unitName + " did not become " + StateText(target) + " within " +
                  std::to_string(polls) + " s; it is " + StateText(state));
    hooks_.wait(1);
  }
}

bool SystemdServiceControl::StartServiceAndWait(int timeoutSeconds) {
  // systemd would take a start of a running unit as done at once; the service manager's rule
  // is that it refuses it, so the state decides first.
  const int state = QueryServiceState();
  if (state == kServiceUnknown) return false;
  if (state != kServiceStopped)
    return Fail(definition_.unitName + " is " + StateText(state) + ", not stopped: not started");
  if (!Request("StartUnit", bus_.StartUnit(definition_.unitName))) return false;
  return WaitForState(kServiceRunning, timeoutSeconds);
}

bool SystemdServiceControl::StopServiceAndWait(int timeoutSeconds) {
  const int state = QueryServiceState();
  if (state == kServiceUnknown) return false;
  if (state == kServiceStopped) return Fail(definition_.unitName + " is stopped already");
  if (!Request("StopUnit", bus_.StopUnit(definition_.unitName))) return false;
  return WaitForState(kServiceStopped, timeoutSeconds);
}

bool SystemdServiceControl::SendToSpooler(const std::string& request) {
  std::string error;
  const std::string answer = SendControlRequest(definition_.controlSocket, request, error);
  if (answer == "OK") return true;
  if (answer.empty()) return Fail("the service's control channel does not answer: " + error);
  if (answer == "DENIED")
    return Fail("the service refused " + request +
                ": only root, its own user and the members of the group postvane may ask it");
  if (answer == "FAILED")
    return Fail("the service answered FAILED to " + request + ": its settings could not be loaded");
  return Fail("the service answered '" + answer + "' to " + request);
}

bool SystemdServiceControl::PauseServiceAndWait(int timeoutSeconds) {
  lastError_.clear();
  // Whether it paused is the spooler's to tell: systemd knows no pause (nor, where the spooler
  // runs without it, the service).
  return SendToSpooler("PAUSE") &&
         WaitFor(kServicePaused, timeoutSeconds, [this] { return SpoolerState(); });
}

bool SystemdServiceControl::ContinueServiceAndWait(int timeoutSeconds) {
  lastError_.clear();
  return SendToSpooler("CONTINUE") &&
         WaitFor(kServiceRunning, timeoutSeconds, [this] { return SpoolerState(); });
}

// ---- Install, remove, start type ----

bool SystemdServiceControl::LinkableUnitFile() {
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(definition_.unitFile, ignored))
    return Fail("the unit file " + definition_.unitFile + " does not exist");
  const std::string problem = hooks_.unitSafetyProblem(definition_.unitFile);
  if (!problem.empty())
    return Fail(definition_.unitFile + " must not become a service of root: " + problem);
  return true;
}

bool SystemdServiceControl::InstallService(int startType) {
  lastError_.clear();
  if (!hooks_.isAdministrator())
    return Fail("only an administrator (root, or a member of sudo, wheel or admin) may install the service");
  if (definition_.unitName.empty() || definition_.unitFile.empty())
    return Fail("no unit name or no unit file to install");
  const int current = QueryServiceStartType();
  if (current >= 0) return Fail(definition_.unitName + " is installed already");
  if (current != kNoSuchService) return false;
  if (!LinkableUnitFile()) return false;
  bool done = false;
  switch (startType) {
    case kStartOnDemand:
      done = Request("LinkUnitFiles", bus_.LinkUnitFiles(File()));
      break;
    case kStartDisabled:
      // The mask alone: a link would be replaced by it anyway (and systemd refuses to mask over
      // a link without force). A later change of the start type links the shipped file afresh.
      done = Request("MaskUnitFiles", bus_.MaskUnitFiles(Name()));
      break;
    default:  // automatic; boot, system and unknown types too
      done = Request("EnableUnitFiles", bus_.EnableUnitFiles(File()));
  }
  return done && Request("Reload for", bus_.Reload());
}

bool SystemdServiceControl::ChangeServiceStartType(int startType) {
  lastError_.clear();
  if (startType < kStartBoot || startType > kStartDisabled)
    return Fail("there is no start type " + std::to_string(startType));
  const int current = QueryServiceStartType();
  if (current < 0) return current == kNoSuchService ? Fail(definition_.unitName + " is not installed") : false;
  const int type = startType < kStartAutomatic ? kStartAutomatic : startType;
  if (type != kStartDisabled && !LinkableUnitFile()) return false;
  // Two steps where the unit's links change twice: a second step refused (a polkit answer
  // given once, say) would leave the service uninstalled, so the first is undone then.
  bool first = true, done = true;
  if (type == kStartDisabled) {
    // Disabled first: a mask over an enabled unit would leave its wants link behind.
    first = Request("DisableUnitFiles", bus_.DisableUnitFiles(Name()));
    done = first && Request("MaskUnitFiles", bus_.MaskUnitFiles(Name()));
  } else {
    if (current == kStartDisabled)
      first = Request("UnmaskUnitFiles", bus_.UnmaskUnitFiles(Name()));
    else if (type == kStartOnDemand)
      first = Request("DisableUnitFiles", bus_.DisableUnitFiles(Name()));
    done = first && Request(type == kStartAutomatic ? "EnableUnitFiles" : "LinkUnitFiles",
                            type == kStartAutomatic ? bus_.EnableUnitFiles(File())
                                                    : bus_.LinkUnitFiles(File()));
  }
  if (first && !done) RestoreStartType(current);
  return done && Request("Reload for", bus_.Reload());
}

void SystemdServiceControl::RestoreStartType(int startType) {
  const std::string why = lastError_;
  if (startType == kStartDisabled) bus_.MaskUnitFiles(Name());
  else if (startType == kStartAutomatic) bus_.EnableUnitFiles(File());
  else bus_.LinkUnitFiles(File());
  bus_.Reload();
  lastError_ = why;
}

bool SystemdServiceControl::UninstallService() {
  lastError_.clear();
  if (!hooks_.isAdministrator())
    return Fail("only an administrator (root, or a member of sudo, wheel or admin) may remove the service");
  const int current = QueryServiceStartType();
  if (current < 0) return current == kNoSuchService ? Fail(definition_.unitName + " is not installed") : false;
  // A masked unit has only its mask to remove: disabling would leave it masked.
  const bool done = current == kStartDisabled
                        ? Request("UnmaskUnitFiles", bus_.UnmaskUnitFiles(Name()))
                        : Request("DisableUnitFiles", bus_.DisableUnitFiles(Name()));
  return done && Request("Reload for", bus_.Reload());
}

}  // namespace pv
