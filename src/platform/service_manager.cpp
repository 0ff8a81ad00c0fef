#include "platform/service_manager.h"

#include <systemd/sd-daemon.h>

namespace pv {
namespace {

// A status is one line: a line break would start another assignment.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

void NotifyReady(const std::string& status) {
  sd_notify(0, ("READY=1\nSTATUS=" + OneLine(status)).c_str());
}

void NotifyStatus(const std::string& status) {
  sd_notify(0, ("STATUS=" + OneLine(status)).c_str());
}

void NotifyStopping() { sd_notify(0, "STOPPING=1"); }

void NotifyReloading() { sd_notify(0, "RELOADING=1"); }

}  // namespace pv
