#pragma once
// Tells systemd how the service is doing (sd_notify: READY=1, STATUS=..., STOPPING=1). Outside
// systemd (no NOTIFY_SOCKET) every call does nothing.
#include <string>

namespace pv {

void NotifyReady(const std::string& status);
void NotifyStatus(const std::string& status);
void NotifyStopping();
void NotifyReloading();

}  // namespace pv
