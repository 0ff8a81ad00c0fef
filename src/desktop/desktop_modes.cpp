#include "desktop/desktop_modes.h"

#include <QApplication>
#include <QMessageBox>

#include "desktop/about_box.h"
#include "desktop/desktop_notifier.h"
#include "desktop/service_offers.h"
#include "desktop/settings_window.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_spooler.h"
#include "desktop/tray_status.h"
#include "platform/system_info.h"
#include "reporting_api/notifier.h"
#include "shell/command_line.h"
#include "shell/launch.h"
#include "shell/settings_state.h"

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

// The settings window's view of this process.
SettingsWindowHost SettingsHostOf(const StartupValues& startup) {
  SettingsWindowHost host;
  host.settingsMode = startup.SettingsMode;
  host.remoteSession = IsRemoteSession();
  host.isService = startup.IsService;
  host.settingsFile = startup.SettingsFile;
  host.workingCopy = startup.SettingsWorkingCopy;
  host.defaults = SettingsDefaultsOf(startup);
  return host;
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
  SettingsWindowHost settingsHost = SettingsHostOf(startup);
  settingsHost.settingsMode = false;
  settingsHost.reload = [&startup] { LoadAndPrintSettings(startup); };
  settingsHost.spoolNow = [&runtime] { runtime.controller().SpoolNow(); };
  const TrayWindows windows{[] { ShowAboutBox(nullptr, false); },
                            [&settingsHost] { ShowSettingsWindow(settingsHost); },
                            [] {
                              if (SettingsWindow* window = OpenSettingsWindow())
                                window->SaveBeforeEnd();
                            }};
  TraySpooler traySpooler(runtime.controller(), tray, menu, windows);
  spooler = &traySpooler;

  SystemdLink systemd(false);
  const SpoolerLifeCycle lifeCycle{[&traySpooler] { return traySpooler.StartService(); },
                                   [&traySpooler] { return traySpooler.EndService(); },
                                   [&runtime] { return runtime.controller().Reload(); }};
  const int code =
      RunSpoolerLoop(app, signalEvents, runtime, startup, holdsInstanceLock, systemd, lifeCycle);
  spooler = nullptr;
  return code;
}

int RunSettingsWindow(int argc, char** argv, const StartupValues& startup) {
  QApplication app(argc, argv);
  PrepareApplication(app);
  if (IsRemoteSession())
    QMessageBox::information(nullptr, QObject::tr("Postvane"), RemoteSessionMessage());
  NoServiceControl service;
  SettingsWindowHost host = SettingsHostOf(startup);
  host.settingsMode = true;
  host.service = &service;
  SettingsWindow* window = ShowSettingsWindow(host);
  if (!window) return 1;
  // The process ends with its one window.
  QObject::connect(window, &QObject::destroyed, &app, &QCoreApplication::quit);
  return app.exec();
}

DesktopModes DesktopRunModes() { return {RunTraySpooler, RunSettingsWindow}; }

}  // namespace pv
