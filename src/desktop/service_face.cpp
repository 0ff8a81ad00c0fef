#include "desktop/service_face.h"

#include <QApplication>
#include <QMenu>
#include <map>
#include <unistd.h>

#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_spooler.h"
#include "desktop/tray_status.h"
#include "platform/user_dirs.h"
#include "platform/watch_event.h"
#include "service/service_state.h"
#include "support/date_time.h"

namespace pv {
namespace {

SpoolerState StateNamed(const std::string& name) {
  if (name == "offline") return SpoolerState::Offline;
  if (name == "spooling") return SpoolerState::Spooling;
  if (name == "paused") return SpoolerState::Paused;
  return SpoolerState::Waiting;
}

// The life-cycle step whose menu states fit a state of the service.
LifeStep StepOf(SpoolerState state) {
  return state == SpoolerState::Paused ? LifeStep::Pause : LifeStep::Continue;
}

QString WithReason(const QString& text, const std::string& reason) {
  return reason.empty() ? text : text + "\n\n" + QString::fromStdString(reason);
}

}  // namespace

ServiceView ServiceViewOf(const std::string& stateLine) {
  const std::map<std::string, std::string> fields = ParseStateLine(stateLine);
  ServiceView view;
  const auto field = [&fields](const char* key) {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
  };
  view.reachable = fields.count("state") > 0;
  view.state = StateNamed(field("state"));
  bool error = false;
  const LocalDateTime next = ParseDateTime(field("next"), error);
  view.nextRun = error || field("next").empty() ? "" : FormatGeneralDate(next);
  view.settingsFile = field("settings");
  return view;
}

ServiceFace::ServiceFace(TrayIcon& tray, TrayMenu& menu, ServiceControl& service,
                         Notifier& notifier, FaceWindows windows, std::string controlSocket,
                         QObject* parent)
    : QObject(parent),
      askStop(AskStopQuestion),
      tray_(tray),
      menu_(menu),
      service_(service),
      notifier_(notifier),
      windows_(std::move(windows)),
      controlSocket_(std::move(controlSocket)) {
  setObjectName(QStringLiteral("frmPostvane"));
  ask = [this](const std::string& request) {
    std::string error;
    return SendControlRequest(controlSocket_, request, error, 2000);
  };
  tray_.SetMenu(&menu_);
  timer_.setInterval(1000);
  connectEvents();
}

void ServiceFace::connectEvents() {
  connect(&timer_, &QTimer::timeout, this, &ServiceFace::Refresh);
  connect(menu_.about, &QAction::triggered, this, [this] {
    if (windows_.about) windows_.about();
  });
  connect(menu_.settings, &QAction::triggered, this, &ServiceFace::DoSettings);
  connect(menu_.serviceSettings, &QAction::triggered, this, [this] {
    if (windows_.serviceSettings && !windows_.serviceSettings()) end();
  });
  connect(menu_.testObject, &QAction::triggered, this, [this] {
    if (windows_.testObject) windows_.testObject();
  });
  connect(menu_.pause, &QAction::triggered, this, &ServiceFace::PauseCommand);
  connect(menu_.cont, &QAction::triggered, this, &ServiceFace::ContinueCommand);
  connect(menu_.spoolNow, &QAction::triggered, this, &ServiceFace::SpoolNow);
  connect(menu_.stop, &QAction::triggered, this, &ServiceFace::StopCommand);
  connect(&tray_, &TrayIcon::LeftMouseDblClick, this, &ServiceFace::DoSettings);
  const bool activationOnly = TrayHostKnowsOnlyActivation();
  connect(&tray_, &TrayIcon::LeftMouseButton, this, [this, activationOnly] {
    if (activationOnly) DoSettings();
  });
}

void ServiceFace::Start() {
  menu_.serviceSettings->setEnabled(static_cast<bool>(windows_.serviceSettings));
  menu_.testObject->setEnabled(static_cast<bool>(windows_.testObject));
  menu_.DisableLifeCycle();
  Refresh();
  startWatch();
  timer_.start();
}

void ServiceFace::Refresh() {
  if (ended_) return;
  const ServiceView view = ServiceViewOf(ask("STATE"));
  if (!view.reachable) {
    if (++misses_ >= kMissesBeforeEnd) end();
    return;
  }
  const bool cameBack = misses_ > 0;
  misses_ = 0;
  show(view);
  // A restarted service: watch the new one.
  if (cameBack && !watchRefused_ && !watching()) startWatch();
}

void ServiceFace::show(const ServiceView& view) {
  const bool first = !view_.reachable && !shown_;
  const bool changed = first || view.state != view_.state;
  shown_ = true;
  view_ = view;
  tray_.Paused = view.state == SpoolerState::Paused;
  const TrayStatus status = TrayStatusFor(view.state, QString::fromStdString(view.nextRun));
  tray_.SetIcon(LoadTrayPicture(static_cast<int>(status.picture)), status.tooltip);
  if (first) menu_.Apply(LifeStep::Start);
  if (changed) menu_.Apply(StepOf(view.state));
}

void ServiceFace::startWatch() {
  watch_ = std::make_unique<ControlWatch>();
  watch_->onEvent = [this](const std::string& line) { onEvent(line); };
  watch_->onClosed = [this](const std::string& why) {
    // "DENIED": not a member of the group postvane; the state is still shown.
    if (why.find("DENIED") != std::string::npos) watchRefused_ = true;
  };
  watch_->Start(controlSocket_);
}

void ServiceFace::onEvent(const std::string& line) {
  if (const auto balloon = ParseBalloonEvent(line)) {
    notifier_.ShowBalloon(static_cast<BalloonIcon>(balloon->icon), balloon->title, balloon->text);
  } else if (const auto critical = ParseCriticalEvent(line)) {
    notifier_.ShowCriticalMessage(*critical);
  }
}

void ServiceFace::PauseCommand() {
  WaitCursor busy;
  if (!service_.PauseServiceAndWait())
    ShowCritical(nullptr, WithReason(tr("Error while pausing service."), service_.LastError()));
  Refresh();
}

void ServiceFace::ContinueCommand() {
  WaitCursor busy;
  if (!service_.ContinueServiceAndWait())
    ShowCritical(nullptr, WithReason(tr("Error while continue service."), service_.LastError()));
  Refresh();
}

void ServiceFace::StopCommand() {
  const bool wasPaused = view_.state == SpoolerState::Paused;
  if (!wasPaused) service_.PauseServiceAndWait();
  if (!askStop()) {
    if (!wasPaused) service_.ContinueServiceAndWait();
    Refresh();
    return;
  }
  bool stopped = false;
  {
    WaitCursor busy;
    stopped = service_.StopServiceAndWait();
  }
  if (!stopped) {
    ShowCritical(nullptr, WithReason(tr("Error while stopping service."), service_.LastError()));
    if (!wasPaused) service_.ContinueServiceAndWait();
    Refresh();
    return;
  }
  end();
}

void ServiceFace::SpoolNow() { ask("SPOOLNOW"); }

void ServiceFace::DoSettings() {
  if (windows_.settings && !view_.settingsFile.empty()) windows_.settings(view_.settingsFile);
}

void ServiceFace::end() {
  if (ended_) return;
  ended_ = true;
  timer_.stop();
  watch_.reset();
  menu_.Apply(LifeStep::End);
  emit ended();
}

bool SystemServiceAnswers() {
  const std::string socket = ServiceControlSocket();
  if (IsSystemAccount(::geteuid()) || socket == RuntimeDirectory() + "/" + kControlSocketName)
    return false;
  std::string error;
  return ServiceViewOf(SendControlRequest(socket, "STATE", error, 2000)).reachable;
}

}  // namespace pv
