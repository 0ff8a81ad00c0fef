#pragma once
// The desktop's door to the system service: its state and start type as the service manager
// numbers them, and the operations that install, remove, start, stop, pause and continue it
// and wait for the new state. One object is bound to one service; SystemdServiceControl
// (service/systemd_service_control.h) is the real one, tests bring their own.
#include <string>

namespace pv {

// Service states.
inline constexpr int kServiceUnknown = 0;  // the state could not be read
inline constexpr int kServiceStopped = 1;
inline constexpr int kServiceStartPending = 2;
inline constexpr int kServiceStopPending = 3;
inline constexpr int kServiceRunning = 4;
inline constexpr int kServiceContinuePending = 5;
inline constexpr int kServicePausePending = 6;
inline constexpr int kServicePaused = 7;

// Start types.
inline constexpr int kStartBoot = 0;
inline constexpr int kStartSystem = 1;
inline constexpr int kStartAutomatic = 2;
inline constexpr int kStartOnDemand = 3;
inline constexpr int kStartDisabled = 4;

// Why a start type could not be read.
inline constexpr int kNoServiceManager = -1;      // no system bus, or no systemd on it
inline constexpr int kNoSuchService = -2;         // not installed, or access refused
inline constexpr int kStartTypeUnexpected = -3;   // an answer that names no start type
inline constexpr int kStartTypeUnreadable = -4;   // the query failed

// A timeout of 0 seconds means this many.
inline constexpr int kDefaultServiceWaitSeconds = 60;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // A start type 0…4, or one of the negative codes above.
  virtual int QueryServiceStartType() = 0;
  // A state 1…7, or kServiceUnknown.
  virtual int QueryServiceState() = 0;
  // Only the start type changes; true when it did.
  virtual bool ChangeServiceStartType(int startType) = 0;
  // Each sends its request and waits up to timeoutSeconds (0: 60) for the state it asks for,
  // polling once a second while the caller's events go on; false at once when the request is
  // refused (a stop of a stopped service, say).
  virtual bool StartServiceAndWait(int timeoutSeconds = 0) = 0;
  virtual bool StopServiceAndWait(int timeoutSeconds = 0) = 0;
  virtual bool PauseServiceAndWait(int timeoutSeconds = 0) = 0;
  virtual bool ContinueServiceAndWait(int timeoutSeconds = 0) = 0;
  // Makes it a service of the system with this start type; false when it exists already or
  // the system refused.
  virtual bool InstallService(int startType) = 0;
  // Removes it from the system (a running service is not stopped here); false when there was
  // no such service or the system refused.
  virtual bool UninstallService() = 0;
  // Why the last operation that returned false or a negative code failed, for the log.
  virtual std::string LastError() const { return {}; }
};

// Where no service manager is reached: nothing is installed, nothing can be done.
class NoServiceControl : public ServiceControl {
 public:
  int QueryServiceStartType() override { return kNoServiceManager; }
  int QueryServiceState() override { return kServiceUnknown; }
  bool ChangeServiceStartType(int) override { return false; }
  bool StartServiceAndWait(int) override { return false; }
  bool StopServiceAndWait(int) override { return false; }
  bool PauseServiceAndWait(int) override { return false; }
  bool ContinueServiceAndWait(int) override { return false; }
  bool InstallService(int) override { return false; }
  bool UninstallService() override { return false; }
};

}  // namespace pv
