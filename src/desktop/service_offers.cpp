#include "desktop/service_offers.h"

#include <QApplication>
#include <QObject>

#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"

namespace pv {

std::optional<ServiceOffer> ServiceOfferFor(int state, bool saved) {
  using Action = ServiceOffer::Action;
  switch (state) {
    case kServiceStopped:
      return ServiceOffer{
          Action::Start,
          QObject::tr(" is not started as windows service. Do you want to start the service now?"),
          QObject::tr("Service successfully started."), QObject::tr("Error while starting service.")};
    case kServiceRunning:
      if (!saved) return std::nullopt;
      return ServiceOffer{Action::Restart,
                          QObject::tr(" is started as windows service. Do you want to restart the "
                                      "service to refresh with the new settings?"),
                          QObject::tr("Service successfully restarted."),
                          QObject::tr("Error while restarting service.")};
    case kServicePaused:
      return ServiceOffer{Action::Continue,
                          QObject::tr(" is paused. Do you want to continue the service?"),
                          QObject::tr("Service successfully continued."),
                          QObject::tr("Error while continue service.")};
    default:
      return std::nullopt;
  }
}

namespace {

bool Carry(ServiceControl& service, ServiceOffer::Action action) {
  switch (action) {
    case ServiceOffer::Action::Start: return service.StartServiceAndWait();
    case ServiceOffer::Action::Restart:
      service.StopServiceAndWait();  // the restart stands or falls with the start
      return service.StartServiceAndWait();
    case ServiceOffer::Action::Continue: return service.ContinueServiceAndWait();
  }
  return false;
}

}  // namespace

void OfferServiceAction(QWidget* owner, ServiceControl& service, bool saved) {
  const int startType = service.QueryServiceStartType();
  if (startType != kStartAutomatic && startType != kStartOnDemand) return;
  const std::optional<ServiceOffer> offer = ServiceOfferFor(service.QueryServiceState(), saved);
  if (!offer || !AskYesNo(owner, QObject::tr("Postvane") + offer->question)) return;
  bool done = false;
  {
    WaitCursor busy;
    done = Carry(service, offer->action);
  }
  if (done)
    ShowInformation(owner, offer->success);
  else
    ShowCritical(owner, offer->failure);
}

}  // namespace pv
