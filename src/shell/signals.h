#pragma once
// SIGTERM, SIGINT and SIGHUP as events of the event loop (signalfd). Construct it before any
// thread starts: the signals are blocked for the whole process, so every thread created later
// inherits the mask and only the event loop sees them.
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace pv {

class SignalEvents {
 public:
  SignalEvents();
  ~SignalEvents();
  SignalEvents(const SignalEvents&) = delete;
  SignalEvents& operator=(const SignalEvents&) = delete;

  // SIGTERM and SIGINT: stop; SIGHUP: reload.
  void OnStop(std::function<void()> handler) { onStop_ = std::move(handler); }
  void OnReload(std::function<void()> handler) { onReload_ = std::move(handler); }
  // Starts watching (needs the event loop's application object).
  bool Watch();

 private:
  void Dispatch();
  int fd_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> onStop_;
  std::function<void()> onReload_;
};

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread (before threads exist: everywhere).
void BlockControlSignals();

}  // namespace pv
