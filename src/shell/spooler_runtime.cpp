#include "shell/spooler_runtime.h"

#include <unistd.h>
#include <vector>

#include "platform/network_state.h"
#include "platform/user_groups.h"
#include "shell/control_answer.h"
#include "shell/debug_line.h"
#include "shell/queue_channel.h"
#include "shell/settings_commands.h"
#include "shell/settings_state.h"
#include "support/durable_write.h"
#include "support/paths.h"

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

std::string SpoolDirectory() { return DirectoryPart(SettingsSnapshot().SpoolFilePattern); }

// The controller and the settings record, as the control channel asks them; pause, continue
// and the settings window through the front end where it has its own.
class ControlledController : public ControlledSpooler {
 public:
  ControlledController(SpoolerController& controller, const std::function<bool()>& pause,
                       const std::function<bool()>& cont, const std::function<bool()>& showSettings)
      : controller_(controller), pause_(pause), cont_(cont), showSettings_(showSettings) {}
  bool SpoolNow() override { return controller_.SpoolNow(); }
  bool PauseService() override { return pause_ ? pause_() : controller_.PauseService(); }
  bool ContService() override { return cont_ ? cont_() : controller_.ContService(); }
  bool Reload() override { return controller_.Reload(); }
  bool ShowSettings() override { return showSettings_ && showSettings_(); }
  std::string StatusText() const override { return controller_.StatusText(); }
  std::string StateLine() const override { return controller_.StateLine(); }
  SpoolerSettings Settings() const override { return SettingsSnapshot(); }
  std::string SettingsFile() const override { return Startup().SettingsFile; }
  std::string QueueAnswer(std::string_view verb, const std::string& name) override {
    return AnswerQueueRequest(SettingsSnapshot(), verb, name);
  }

 private:
  SpoolerController& controller_;
  const std::function<bool()>& pause_;
  const std::function<bool()>& cont_;
  const std::function<bool()>& showSettings_;
};

}  // namespace

SpoolerRuntime::SpoolerRuntime(const StartupValues& startup, std::string commandLine,
                               SpoolerFrontEnd frontEnd)
    : notifier_(frontEnd.notifier),
      reporter_(ReportingValuesOf(startup), [] { return SettingsSnapshot(); }, notifier_,
                systemLog_),
      engine_({state_, transport_, reporter_, notifier_,
               [] { return SettingsSnapshot(); }, nullptr, std::move(commandLine)}),
      controller_({engine_, state_, transport_, reporter_, std::move(frontEnd.showState),
                   [this] {
                     const bool ok = LoadSettingsRecord();
                     TellSettingsFindings(Startup());
                     reporter_.OnSettingsLoaded();
                     return ok;
                   },
                   [] { return SettingsSnapshot(); }, IsNetworkAlive,
                   [](const std::string& event) {
                     TraceDebug({"Spool run " + event, SpoolDirectory()});
                   }}),
      pause_(std::move(frontEnd.pause)),
      cont_(std::move(frontEnd.cont)),
      showSettings_(std::move(frontEnd.showSettings)),
      clockWatch_([this] { controller_.TimeChange(); },
                  [](const std::string& error) { TraceDebug({"Clock change watch", error}); }) {
  controller_.SetOnEnded(std::move(frontEnd.quit));
  // Without the watch a set clock still reaches the timer, at the latest one interval later.
  std::string error;
  if (!clockWatch_.Start(error)) TraceDebug({"Clock change watch", error});
}

// The worker may still report until the controller has joined it; from here on its events
// reach no watcher.
SpoolerRuntime::~SpoolerRuntime() { notifier_.SetWatchers(nullptr); }

void SpoolerRuntime::RecoverStrandedMails() {
  const std::string pattern = SettingsSnapshot().SpoolFilePattern;
  RemoveAbandonedTempFiles(DirectoryPart(pattern));
  const std::vector<std::string> recovered = engine_.RecoverWorkingFiles(pattern);
  if (recovered.empty()) return;
  std::string names;
  for (const std::string& path : recovered) names += (names.empty() ? "" : ", ") + path;
  reporter_.ReportResult(kResultError, "<SYSTEM>", "<SYSTEM>", "<SYSTEM>", 0,
                         "Recovered " + std::to_string(recovered.size()) +
                             " spool file(s) that an earlier run left unfinished: " + names,
                         "");
}

bool SpoolerRuntime::ListenForControl(const std::string& runtimeDirectory, std::string& error) {
  control_ = std::make_unique<ControlServer>(
      runtimeDirectory, [this](const std::string& request, uid_t peer) {
        ControlledController spooler(controller_, pause_, cont_, showSettings_);
        return ControlAnswer(spooler, request, peer, ::geteuid(),
                             [](uid_t uid) { return UserInGroup(uid, kServiceGroup); });
      });
  if (!control_->Listen(error)) return false;
  notifier_.SetWatchers(control_.get());
  return true;
}

}  // namespace pv
