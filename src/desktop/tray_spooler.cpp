#include "desktop/tray_spooler.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QMessageBox>

#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_status.h"
#include "shell/debug_line.h"

namespace pv {

bool TrayHostKnowsOnlyActivation() {
  QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                         QStringLiteral("/StatusNotifierWatcher"),
                         QStringLiteral("org.kde.StatusNotifierWatcher"),
                         QDBusConnection::sessionBus());
  return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool AskStopQuestion() {
  QMessageBox box(QMessageBox::Question, QObject::tr("Postvane"),
                  QObject::tr("This will unload '%1' from memory. Do you want to stop spooling "
                              "mime files?")
                      .arg(QObject::tr("Postvane")),
                  QMessageBox::Yes | QMessageBox::No);
  box.setObjectName(QStringLiteral("msgStop"));
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

TraySpooler::TraySpooler(SpoolerController& controller, TrayIcon& tray, TrayMenu& menu,
                         TrayWindows windows, QObject* parent)
    : QObject(parent),
      askStop(AskStopQuestion),
      controller_(controller),
      tray_(tray),
      menu_(menu),
      windows_(std::move(windows)) {
  setObjectName(QStringLiteral("frmPostvane"));
  tray_.SetMenu(&menu_);
  menu_.serviceSettings->setEnabled(static_cast<bool>(windows_.serviceSettings));
  menu_.testObject->setEnabled(static_cast<bool>(windows_.testObject));
  connectEvents();
}

void TraySpooler::connectEvents() {
  connect(menu_.about, &QAction::triggered, this, [this] {
    if (windows_.about) windows_.about();
  });
  connect(menu_.settings, &QAction::triggered, this, &TraySpooler::DoSettings);
  connect(menu_.serviceSettings, &QAction::triggered, this, &TraySpooler::DoServiceSettings);
  connect(menu_.testObject, &QAction::triggered, this, [this] {
    if (windows_.testObject) windows_.testObject();
  });
  connect(menu_.pause, &QAction::triggered, this, &TraySpooler::PauseService);
  connect(menu_.cont, &QAction::triggered, this, &TraySpooler::ContService);
  connect(menu_.spoolNow, &QAction::triggered, this, [this] { controller_.SpoolSoon(); });
  connect(menu_.stop, &QAction::triggered, this, &TraySpooler::StopCommand);
  connect(&tray_, &TrayIcon::LeftMouseDblClick, this, &TraySpooler::DoSettings);
  // A tray host without double clicks: its activation opens the settings.
  const bool activationOnly = TrayHostKnowsOnlyActivation();
  connect(&tray_, &TrayIcon::LeftMouseButton, this, [this, activationOnly] {
    if (activationOnly) DoSettings();
  });
}

void TraySpooler::ShowState(SpoolerState state) {
  const TrayStatus status =
      TrayStatusFor(state, QString::fromStdString(controller_.NextRunText()));
  tray_.SetIcon(LoadTrayPicture(static_cast<int>(status.picture)), status.tooltip);
}

bool TraySpooler::StartService() {
  if (ended_) return false;
  menu_.DisableLifeCycle();
  tray_.Paused = false;
  const bool started = controller_.StartService();
  menu_.Apply(LifeStep::Start);
  return started;
}

bool TraySpooler::PauseService() {
  if (ended_) return false;
  tray_.Paused = true;
  const bool paused = controller_.PauseService();
  menu_.Apply(LifeStep::Pause);
  return paused;
}

bool TraySpooler::ContService() {
  if (ended_ || !controller_.ContService()) return false;
  tray_.Paused = false;
  menu_.Apply(LifeStep::Continue);
  return true;
}

bool TraySpooler::EndService() {
  if (ended_) return false;
  ended_ = true;
  tray_.Paused = true;
  menu_.Apply(LifeStep::End);
  return controller_.EndService();
}

void TraySpooler::DoSettings() {
  if (windows_.settings) windows_.settings();
}

void TraySpooler::DoServiceSettings() {
  if (windows_.serviceSettings && !windows_.serviceSettings()) {
    if (windows_.beforeEnd) windows_.beforeEnd();
    EndService();
  }
}

void TraySpooler::StopCommand() {
  const bool wasPaused = !menu_.pause->isEnabled();
  // Spooling is held while the question is open.
  if (!wasPaused) PauseService();
  const bool stop = askStop();
  TraceDebug({"Exit"});
  if (stop) {
    if (windows_.beforeEnd) windows_.beforeEnd();
    EndService();
  }
  else if (!wasPaused)
    ContService();
}

}  // namespace pv
