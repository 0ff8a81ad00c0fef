#pragma once
// The service's word to systemd, from the event loop: READY, STATUS and STOPPING over
// $NOTIFY_SOCKET. What systemd must get and could not take yet is sent again by a timer every
// 100 ms; after STOPPING=1 no further state is told; at exit a kept notification gets 3 more
// seconds. Outside the service every call does nothing.
#include <QTimer>
#include <string>

#include "platform/systemd_notifier.h"

namespace pv {

class SystemdLink {
 public:
  explicit SystemdLink(bool isService);
  SystemdLink(const SystemdLink&) = delete;
  SystemdLink& operator=(const SystemdLink&) = delete;

  void Status(const std::string& text);
  void Ready(const std::string& status);
  void Stopping(const std::string& status);
  // At exit, after the event loop: a bounded last chance for what is kept.
  void Finish();

 private:
  void RetryWhenKept();

  ServiceNotifier notifier_;
  QTimer retry_;
  bool stopping_ = false;
};

}  // namespace pv
