#pragma once
// After the settings window closes or saves in settings mode, it offers to start, restart or
// continue the system service that reads those settings.
#include <QString>
#include <optional>

#include "service/service_control.h"

class QWidget;

namespace pv {

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
