#include "desktop/desktop_modes.h"

#include <QApplication>
#include <QMessageBox>

#include "desktop/about_box.h"
#include "desktop/desktop_notifier.h"
#include "desktop/settings_view.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_spooler.h"
#include "desktop/tray_status.h"
#include "platform/system_info.h"
#include "reporting_api/notifier.h"
#include "shell/command_line.h"
#include "shell/launch.h"

namespace pv {
namespace {

void PrepareApplication(QApplication& app) {
  app.setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("postvane"));
}

QString RemoteSessionMessage() {
  return QObject::tr("%1 was invoked in a remote session.\n"
                     "It can only be used to change the settings.\n\n"
                     "If the settings dialog is closed, you will have the\n"
                     "chance to start or restart the service running in the local session.")
      .arg(QObject::tr("Postvane"));
}

// The tray's part of the runtime: its state on the icon, its life cycle for the control
// channel, the end that takes the icon and every window away.
SpoolerFrontEnd TrayFrontEnd(Notifier& notifier, TrayIcon& tray, TraySpooler*& spooler) {
  SpoolerFrontEnd frontEnd{
      notifier,
      [&spooler](SpoolerState state, const std::string&) {
        if (spooler) spooler->ShowState(state);
      },
      [&tray] {
        QApplication::closeAllWindows();
        tray.RemoveIcon();
        QCoreApplication::quit();
      }};
  frontEnd.pause = [&spooler] { return spooler && spooler->PauseService(); };
  frontEnd.cont = [&spooler] { return spooler && spooler->ContService(); };
  frontEnd.showSettings = [&spooler] {
    if (spooler) spooler->DoSettings();
    return spooler != nullptr;
  };
  return frontEnd;
}

}  // namespace

int RunTraySpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock) {
  SignalEvents signalEvents;  // before any thread exists
  QApplication app(argc, argv);
  PrepareApplication(app);
  LoadAndPrintSettings(startup);

  TrayIcon tray;
  const TrayStatus preparing = PreparingTrayStatus();
  tray.SetIcon(LoadTrayPicture(static_cast<int>(preparing.picture)), preparing.tooltip);
  DesktopNotifier notifier(&tray);
  TraySpooler* spooler = nullptr;
  SpoolerRuntime runtime(startup, JoinArguments(argc, argv),
                         TrayFrontEnd(notifier, tray, spooler));
  TrayMenu menu;
  const TrayWindows windows{[] { ShowAboutBox(nullptr, false); }, [] { ShowSettingsView(); }};
  TraySpooler traySpooler(runtime.controller(), tray, menu, windows);
  spooler = &traySpooler;

  SystemdLink systemd(false);
  const SpoolerLifeCycle lifeCycle{[&traySpooler] { return traySpooler.StartService(); },
                                   [&traySpooler] { return traySpooler.EndService(); },
                                   [&traySpooler] { return traySpooler.ContService(); }};
  const int code =
      RunSpoolerLoop(app, signalEvents, runtime, startup, holdsInstanceLock, systemd, lifeCycle);
  spooler = nullptr;
  return code;
}

int RunSettingsWindow(int argc, char** argv, const StartupValues& startup) {
  (void)startup;
  QApplication app(argc, argv);
  PrepareApplication(app);
  if (IsRemoteSession())
    QMessageBox::information(nullptr, QObject::tr("Postvane"), RemoteSessionMessage());
  SettingsView view;
  view.exec();
  return 0;
}

DesktopModes DesktopRunModes() { return {RunTraySpooler, RunSettingsWindow}; }

}  // namespace pv
