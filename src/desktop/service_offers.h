#pragma once
// After the settings window closes or saves in settings mode, it offers to start, restart or
// continue the system service that reads those settings. ServiceControl is the window's view
// of the service manager; until the desktop can control the system service, NoServiceControl
// answers "no service" and nothing is offered.
#include <QString>
#include <optional>

class QWidget;

namespace pv {

// The service manager's numbers for a service's state and start type.
inline constexpr int kServiceStopped = 1;
inline constexpr int kServiceRunning = 4;
inline constexpr int kServicePaused = 7;
inline constexpr int kStartAutomatic = 2;
inline constexpr int kStartOnDemand = 3;

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  // The start type (2 automatic, 3 on demand, 4 disabled); negative when the service manager or
  // the service cannot be reached.
  virtual int QueryServiceStartType() = 0;
  // 1 stopped … 7 paused; 0 when it cannot be read.
  virtual int QueryServiceState() = 0;
  virtual bool StartServiceAndWait() = 0;
  virtual bool StopServiceAndWait() = 0;
  virtual bool ContinueServiceAndWait() = 0;
};

class NoServiceControl : public ServiceControl {
 public:
  int QueryServiceStartType() override { return -1; }
  int QueryServiceState() override { return 0; }
  bool StartServiceAndWait() override { return false; }
  bool StopServiceAndWait() override { return false; }
  bool ContinueServiceAndWait() override { return false; }
};

struct ServiceOffer {
  enum class Action { Start, Restart, Continue };
  Action action;
  QString question;  // after the application title
  QString success;
  QString failure;
};

// What to offer for a service in this state: a stopped one is offered a start and a paused
// one a continue always, a running one a restart only after a save.
std::optional<ServiceOffer> ServiceOfferFor(int state, bool saved);

// Asks the offer's question (when the service starts automatically or on demand) and carries
// out a Yes, telling how it went.
void OfferServiceAction(QWidget* owner, ServiceControl& service, bool saved);

}  // namespace pv
