#include "shell/launch.h"

#include <iostream>

#include "platform/control_channel.h"
#include "platform/user_dirs.h"
#include "reporting_api/notifier.h"
#include "shell/command_line.h"
#include "shell/debug_line.h"
#include "shell/settings_commands.h"
#include "shell/settings_state.h"
#include "shell/signals.h"
#include "shell/spooler_runtime.h"
#include "shell/systemd_link.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

// SIGTERM and SIGINT stop the spooler after the mail in hand; SIGHUP reloads the settings.
void WatchSignals(SignalEvents& signalEvents, const SpoolerLifeCycle& lifeCycle,
                  SystemdLink& systemd) {
  signalEvents.OnStop([&lifeCycle, &systemd] {
    const std::string stopping = "Stopping: finishing the mail in hand";
    TraceDebug({"Stop requested"});
    std::cout << stopping << std::endl;
    systemd.Stopping(stopping);
    lifeCycle.end();
  });
  signalEvents.OnReload([&lifeCycle] { lifeCycle.reload(); });
  signalEvents.Watch();
}

}  // namespace

void LoadAndPrintSettings(const StartupValues& startup) {
  const bool loaded = LoadSettingsRecord();
  TellSettingsFindings(startup);
  std::cout << "\nSettings (" << startup.SettingsFile << (loaded ? "" : ", not all read") << ")\n";
  for (const std::string& line : Split(DescribeSettings(SettingsSnapshot()), '\n'))
    if (!line.empty()) std::cout << "  " << line << "\n";
  std::cout.flush();  // a reload's listing reaches a log file at once
}

int RunSpoolerLoop(QCoreApplication& app, SignalEvents& signalEvents, SpoolerRuntime& runtime,
                   const StartupValues& startup, bool holdsInstanceLock, SystemdLink& systemd,
                   const SpoolerLifeCycle& lifeCycle) {
  if (holdsInstanceLock) runtime.RecoverStrandedMails();
  std::string error;
  if (!runtime.ListenForControl(RuntimeDirectory(), error))
    std::cerr << "postvane: " << error << "\n";
  WatchSignals(signalEvents, lifeCycle, systemd);

  lifeCycle.start();
  SpoolerController& controller = runtime.controller();
  const std::string spoolDirectory = DirectoryPart(SettingsSnapshot().SpoolFilePattern);
  std::cout << "Spooling " << spoolDirectory << " (" << controller.StatusText() << ")"
            << std::endl;
  TraceDebug({"Start", startup.IsService ? "service" : "desktop spooler", startup.SettingsFile,
              spoolDirectory});
  systemd.Ready(controller.StatusText());
  const int code = app.exec();
  TraceDebug({"Exit", std::to_string(code)});
  systemd.Finish();
  return code;
}

int RunSpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock) {
  SignalEvents signalEvents;  // before any thread exists
  QCoreApplication app(argc, argv);
  LoadAndPrintSettings(startup);

  SilentNotifier notifier;
  SystemdLink systemd(startup.IsService);
  SpoolerRuntime runtime(startup, JoinArguments(argc, argv),
                         {notifier,
                          [&systemd](SpoolerState, const std::string& text) { systemd.Status(text); },
                          [] { QCoreApplication::quit(); }});
  SpoolerController& controller = runtime.controller();
  const SpoolerLifeCycle lifeCycle{[&controller] { return controller.StartService(); },
                                   [&controller] { return controller.EndService(); },
                                   [&controller] { return controller.Reload(); }};
  return RunSpoolerLoop(app, signalEvents, runtime, startup, holdsInstanceLock, systemd,
                        lifeCycle);
}

int AskSpoolers(const std::string& request) {
  const std::vector<std::string> sockets = ReachableControlSockets();
  if (sockets.empty()) {
    std::cerr << "postvane: no running spooler found\n";
    return 1;
  }
  int answered = 0;
  for (const std::string& socket : sockets) {
    std::string error;
    const std::string answer = SendControlRequest(socket, request, error);
    if (answer.empty()) {
      std::cerr << "postvane: " << error << "\n";
      continue;
    }
    ++answered;
    std::cout << socket << ": " << answer << "\n";
  }
  return answered > 0 ? 0 : 1;
}

}  // namespace pv
