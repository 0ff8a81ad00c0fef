#include "shell/launch.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <iostream>
#include <unistd.h>

#include "reporting_api/notifier.h"
#include "engine/spool_engine.h"
#include "platform/control_channel.h"
#include "platform/network_state.h"
#include "platform/systemd_notifier.h"
#include "platform/user_dirs.h"
#include "reporting/result_log.h"
#include "shell/command_line.h"
#include "shell/debug_line.h"
#include "shell/settings_state.h"
#include "shell/signals.h"
#include "shell/spooler_controller.h"
#include "support/durable_write.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

ReportingValues ReportingValuesOf(const StartupValues& startup) {
  ReportingValues values;
  values.CsvQuote = startup.CsvQuote;
  values.CsvSeparator = startup.CsvSeparator;
  values.IsService = startup.IsService;
  values.ProgramDirectory = startup.ProgramDirectory;
  return values;
}

// Gives back the mails that a killed process left under their working names, and says so once.
void RecoverStrandedMails(SpoolEngine& engine, ResultReporter& reporter) {
  const std::string pattern = SettingsSnapshot().SpoolFilePattern;
  RemoveAbandonedTempFiles(DirectoryPart(pattern));
  const std::vector<std::string> recovered = engine.RecoverWorkingFiles(pattern);
  if (recovered.empty()) return;
  std::string names;
  for (const std::string& path : recovered) names += (names.empty() ? "" : ", ") + path;
  reporter.ReportResult(kResultError, "<SYSTEM>", "<SYSTEM>", "<SYSTEM>", 0,
                        "Recovered " + std::to_string(recovered.size()) +
                            " spool file(s) that an earlier run left unfinished: " + names,
                        "");
}

std::string ControlAnswer(SpoolerController& controller, const std::string& request, uid_t peer) {
  const bool trusted = peer == ::geteuid() || peer == 0;
  if (request == "SPOOLNOW") return controller.SpoolNow() ? "OK" : "PAUSED";
  if (request == "STATUS")
    return controller.StatusText() + "; spool directory " +
           DirectoryPart(SettingsSnapshot().SpoolFilePattern);
  if (request == "PAUSE") return trusted ? (controller.PauseService(), "OK") : "DENIED";
  if (request == "CONTINUE") return trusted ? (controller.ContService() ? "OK" : "FAILED") : "DENIED";
  return "UNKNOWN";
}

// A notification systemd must get is sent again from the event loop until systemd takes it; at
// exit STOPPING gets this long.
constexpr int kNotifyRetryMs = 100;
constexpr std::chrono::milliseconds kNotifyLastChance{3000};

// The service's word to systemd, from the event loop: what systemd must get and could not take
// yet is sent again by a timer; after STOPPING=1 no further state is told.
class SystemdLink {
 public:
  explicit SystemdLink(bool isService)
      : notifier_(isService ? ServiceNotifier::SocketFromEnvironment() : "") {
    retry_.setInterval(kNotifyRetryMs);
    QObject::connect(&retry_, &QTimer::timeout, [this] {
      if (notifier_.SendPending()) retry_.stop();
    });
  }
  void Status(const std::string& text) {
    if (!stopping_) notifier_.Status(text);
  }
  void Ready(const std::string& status) {
    notifier_.Ready(status);
    RetryWhenKept();
  }
  void Stopping(const std::string& status) {
    notifier_.Status(status);
    notifier_.Stopping();
    stopping_ = true;
    RetryWhenKept();
  }
  // At exit, after the event loop: a bounded last chance for what is kept.
  void Finish() { notifier_.FlushPending(kNotifyLastChance); }

 private:
  void RetryWhenKept() {
    if (notifier_.HasPending()) retry_.start();
  }

  ServiceNotifier notifier_;
  QTimer retry_;
  bool stopping_ = false;
};

}  // namespace

int RunSpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock) {
  SignalEvents signalEvents;  // before any thread exists
  QCoreApplication app(argc, argv);
  const bool loaded = LoadSettingsRecord();
  std::cout << "\nSettings (" << startup.SettingsFile << (loaded ? "" : ", not all read") << ")\n";
  for (const std::string& line : Split(DescribeSettings(SettingsSnapshot()), '\n'))
    if (!line.empty()) std::cout << "  " << line << "\n";

  SilentNotifier notifier;
  SyslogSink systemLog;
  ResultLog reporter(ReportingValuesOf(startup), [] { return SettingsSnapshot(); }, notifier,
                     systemLog);
  SpoolRunState state;
  MailTransport transport;
  SpoolEngine engine({state, transport, reporter, notifier, [] { return SettingsSnapshot(); },
                      nullptr, JoinArguments(argc, argv)});
  const auto reload = [&reporter] {
    const bool ok = LoadSettingsRecord();
    reporter.OnSettingsLoaded();
    return ok;
  };
  SystemdLink systemd(startup.IsService);
  SpoolerController controller({engine, state, transport, reporter,
                                [&systemd](SpoolerState, const std::string& text) {
                                  systemd.Status(text);
                                },
                                reload, [] { return SettingsSnapshot(); }, IsNetworkAlive,
                                [](const std::string& event) {
                                  TraceDebug({"Spool run " + event,
                                              DirectoryPart(SettingsSnapshot().SpoolFilePattern)});
                                }});
  controller.SetOnEnded([] { QCoreApplication::quit(); });

  if (holdsInstanceLock) RecoverStrandedMails(engine, reporter);
  ControlServer control(RuntimeDirectory(), [&controller](const std::string& request, uid_t peer) {
    return ControlAnswer(controller, request, peer);
  });
  std::string error;
  if (!control.Listen(error)) std::cerr << "postvane: " << error << "\n";

  signalEvents.OnStop([&controller, &systemd] {
    const std::string stopping = "Stopping: finishing the mail in hand";
    TraceDebug({"Stop requested"});
    std::cout << stopping << std::endl;
    systemd.Stopping(stopping);
    controller.EndService();
  });
  signalEvents.OnReload([&controller] { controller.ContService(); });
  signalEvents.Watch();

  controller.StartService();
  std::cout << "Spooling " << DirectoryPart(SettingsSnapshot().SpoolFilePattern)
            << " (" << controller.StatusText() << ")" << std::endl;
  TraceDebug({"Start", startup.IsService ? "service" : "desktop spooler", startup.SettingsFile,
              DirectoryPart(SettingsSnapshot().SpoolFilePattern)});
  systemd.Ready(controller.StatusText());
  const int code = app.exec();
  TraceDebug({"Exit", std::to_string(code)});
  systemd.Finish();
  return code;
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
