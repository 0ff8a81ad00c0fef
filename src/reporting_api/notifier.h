#pragma once
// What the spooler shows a person at the desktop: balloons at the tray icon and the one
// critical message box. The service has no desktop; its notifier shows nothing. Calls may come
// from the spool run's worker thread: implementations hand them to the thread that owns the
// desktop.
#include <string>

namespace pv {

enum class BalloonIcon { Information = 1, Warning = 2, Error = 3 };

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) = 0;
  // A message with the critical icon (tray mode only). Returns without waiting for it to be
  // closed: the caller may be the worker thread that the desktop's thread is joining.
  virtual void ShowCriticalMessage(const std::string& text) = 0;
};

// Shows nothing: the service, and tests.
class SilentNotifier : public Notifier {
 public:
  void ShowBalloon(BalloonIcon, const std::string&, const std::string&) override {}
  void ShowCriticalMessage(const std::string&) override {}
};

}  // namespace pv
