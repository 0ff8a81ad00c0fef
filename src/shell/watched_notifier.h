#pragma once
// The spooler's notifier: what the front end shows, and the same as event lines for the
// programs that watch the spooler on its control channel (the tray of a desktop user showing
// the system service). Any thread may call.
#include <mutex>

#include "platform/control_channel.h"
#include "reporting_api/notifier.h"

namespace pv {

class WatchedNotifier : public Notifier {
 public:
  explicit WatchedNotifier(Notifier& shown) : shown_(shown) {}

  void ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) override;
  void ShowCriticalMessage(const std::string& text) override;

  // The control channel whose watchers hear of each event; nullptr: none (before it listens,
  // and once it is going away).
  void SetWatchers(ControlServer* server);

 private:
  void tell(const std::string& line);

  Notifier& shown_;
  std::mutex mutex_;
  ControlServer* server_ = nullptr;
};

}  // namespace pv
