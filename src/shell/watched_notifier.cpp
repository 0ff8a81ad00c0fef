#include "shell/watched_notifier.h"

#include "platform/watch_event.h"

namespace pv {

void WatchedNotifier::ShowBalloon(BalloonIcon icon, const std::string& title,
                                  const std::string& text) {
  shown_.ShowBalloon(icon, title, text);
  tell(FormatBalloonEvent(static_cast<int>(icon), title, text));
}

void WatchedNotifier::ShowCriticalMessage(const std::string& text) {
  shown_.ShowCriticalMessage(text);
  tell(FormatCriticalEvent(text));
}

void WatchedNotifier::SetWatchers(ControlServer* server) {
  std::lock_guard lock(mutex_);
  server_ = server;
}

void WatchedNotifier::tell(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (server_) server_->Broadcast(line);
}

}  // namespace pv
