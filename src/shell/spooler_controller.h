#pragma once
// The spooler's life cycle and its one-second timer: starts a spool run on a worker thread when
// the next run is due (and the network allows it), and answers start, pause, continue and stop.
// Lives on the thread of the event loop; the run's state is shared through SpoolRunState.
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "reporting_api/result_reporter.h"
#include "engine/spool_engine.h"
#include "support/date_time.h"

namespace pv {

// The four states a spooler shows (tray icon, service status), first match wins.
enum class SpoolerState { Offline, Spooling, Paused, Waiting };

// The offset of local time from UTC now, in seconds east.
long LocalUtcOffset();
// The latest next run there can be: now + UpDelay + 3 seconds, since no run is ever put further
// ahead; a later one is left over from a clock that went back, or from a daylight-saving change.
LocalDateTime LatestNextRun(LocalDateTime now, std::int32_t upDelay);

struct ControllerParts {
  SpoolEngine& engine;
  SpoolRunState& state;
  MailTransport& transport;
  ResultReporter& reporter;
  // Shows the state (the tray icon; the service's status line).
  std::function<void(SpoolerState state, const std::string& text)> showState;
  // Reloads the settings; false when a step failed.
  std::function<bool()> loadSettings;
  std::function<SpoolerSettings()> settings;
  std::function<bool()> networkAlive;
  // Told "begins" and "ends" around every spool run, on the run's thread; may be empty.
  std::function<void(const std::string& event)> onRun = nullptr;
  // The clock; tests replace it.
  std::function<LocalDateTime()> now = [] { return LocalDateTime::Now(); };
  // The local offset from UTC in seconds (it moves with daylight saving); tests replace it.
  std::function<long()> utcOffset = LocalUtcOffset;
};


class SpoolerController {
 public:
  explicit SpoolerController(ControllerParts parts);
  ~SpoolerController();
  SpoolerController(const SpoolerController&) = delete;
  SpoolerController& operator=(const SpoolerController&) = delete;

  bool StartService();
  bool PauseService();
  bool ContService();
  // Reads the settings again and keeps running or paused as it was (running: the next run 3
  // seconds from now); false (reported as "Error while loading settings") when they did not
  // load.
  bool Reload();
  // Ends the spooler: the file in hand is finished, the sessions are closed, then `onEnded`.
  bool EndService();
  void SetOnEnded(std::function<void()> onEnded) { onEnded_ = std::move(onEnded); }

  // An immediate run (the spool-now request): the next tick starts it. Ignored while paused.
  bool SpoolNow();
  // "Spool now!" from the menu: the next run 3 seconds from now.
  void SpoolSoon();
  // The wall clock was set or the local offset changed: the next run 3 seconds from now.
  void TimeChange() { SpoolSoon(); }

  bool IsOnline() const;
  void UpdateTrayStatus();
  SpoolerState CurrentState() const;
  // One line for people and for --status: the state and the next run.
  std::string StatusText() const;
  // The next run in the general date format (held to the latest one there can be).
  std::string NextRunText() const;
  // For programs: "state=<waiting|spooling|paused|offline>\tnext=<yyyy-mm-ddThh:nn:ss>", the
  // next run as NextRunText holds it.
  std::string StateLine() const;

  // One tick of the timer (every second while running): a changed UTC offset counts as a time
  // change; when the next run is due, starts it on the worker thread, or, offline, tries again
  // 3 seconds later; a run still busy leaves the next one due.
  void Tick();

 private:
  void StartRun();
  void FinishRun();
  bool LoadSettingsOrReport();

  ControllerParts parts_;
  QTimer timer_;
  std::thread worker_;
  std::atomic<bool> workerBusy_{false};
  std::function<void()> onEnded_;
  long utcOffset_ = 0;
  // The worker says "run finished" through an eventfd, so the hand-off to the event loop is a
  // read and a write that every thread checker sees, not a functor queued inside Qt.
  int runFinishedFd_ = -1;
  std::unique_ptr<QSocketNotifier> runFinished_;
};

}  // namespace pv
