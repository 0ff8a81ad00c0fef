#pragma once
// A running spooler: the mail transport, the result log, the spool run state, the spool engine,
// the controller, the watch on the wall clock and the control channel, built in this order and
// torn down in the reverse one (the controller joins its worker thread before the engine and
// the transport go). Every mode that spools builds one and passes in its own front end: what it
// shows the user and how the process quits. The caller owns the application object; the runtime needs its event loop.
#include <functional>
#include <memory>
#include <string>

#include "engine/spool_engine.h"
#include "platform/clock_change.h"
#include "platform/control_channel.h"
#include "reporting/result_log.h"
#include "reporting/syslog_sink.h"
#include "reporting_api/notifier.h"
#include "shell/spooler_controller.h"
#include "shell/watched_notifier.h"
#include "shell/startup.h"
#include "transport/mail_transport.h"

namespace pv {

// What differs between the modes that spool.
struct SpoolerFrontEnd {
  // Balloons and the critical message; outlives the runtime.
  Notifier& notifier;
  // Shows the spooler's state (the service's status line, the tray icon).
  std::function<void(SpoolerState state, const std::string& text)> showState;
  // Called once the spooler has ended: ends the event loop.
  std::function<void()> quit;
  // The life cycle as the front end runs it (the tray's menu follows it); empty: the
  // controller's own. Pause and continue asked over the control channel take this way.
  std::function<bool()> pause = nullptr;
  std::function<bool()> cont = nullptr;
  // Shows the settings window (SHOWSETTINGS); empty where there is no desktop.
  std::function<bool()> showSettings = nullptr;
};

class SpoolerRuntime {
 public:
  // commandLine: the program's arguments, for reports of unexpected errors.
  SpoolerRuntime(const StartupValues& startup, std::string commandLine, SpoolerFrontEnd frontEnd);
  ~SpoolerRuntime();
  SpoolerRuntime(const SpoolerRuntime&) = delete;
  SpoolerRuntime& operator=(const SpoolerRuntime&) = delete;

  // Gives back the mails that a killed process left under their working names and reports
  // them once; removes the temp files it left. Only for the holder of the instance lock.
  void RecoverStrandedMails();
  // Listens at the control socket in runtimeDirectory; false with error set.
  bool ListenForControl(const std::string& runtimeDirectory, std::string& error);

  SpoolerController& controller() { return controller_; }

 private:
  WatchedNotifier notifier_;
  SyslogSink systemLog_;
  ResultLog reporter_;
  SpoolRunState state_;
  MailTransport transport_;
  SpoolEngine engine_;
  SpoolerController controller_;
  std::function<bool()> pause_, cont_, showSettings_;
  ClockChangeWatch clockWatch_;
  std::unique_ptr<ControlServer> control_;
};

}  // namespace pv
