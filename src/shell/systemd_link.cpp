#include "shell/systemd_link.h"

#include <chrono>

namespace pv {
namespace {

// A notification systemd must get is sent again from the event loop until systemd takes it; at
// exit STOPPING gets this long.
constexpr int kNotifyRetryMs = 100;
constexpr std::chrono::milliseconds kNotifyLastChance{3000};

}  // namespace

SystemdLink::SystemdLink(bool isService)
    : notifier_(isService ? ServiceNotifier::SocketFromEnvironment() : "") {
  retry_.setInterval(kNotifyRetryMs);
  QObject::connect(&retry_, &QTimer::timeout, [this] {
    if (notifier_.SendPending()) retry_.stop();
  });
}

void SystemdLink::Status(const std::string& text) {
  if (!stopping_) notifier_.Status(text);
}

void SystemdLink::Ready(const std::string& status) {
  notifier_.Ready(status);
  RetryWhenKept();
}

void SystemdLink::Stopping(const std::string& status) {
  notifier_.Status(status);
  notifier_.Stopping();
  stopping_ = true;
  RetryWhenKept();
}

void SystemdLink::Finish() { notifier_.FlushPending(kNotifyLastChance); }

void SystemdLink::RetryWhenKept() {
  if (notifier_.HasPending()) retry_.start();
}

}  // namespace pv
