#include "desktop/desktop_modes.h"

#include <QApplication>
#include <QMessageBox>
#include <iostream>

#include "desktop/about_box.h"
#include "desktop/desktop_notifier.h"
#include "desktop/service_face.h"
#include "desktop/service_offers.h"
#include "desktop/settings_window.h"
#include "desktop/system_service.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_spooler.h"
#include "desktop/tray_status.h"
#include "platform/system_info.h"
#include "reporting_api/notifier.h"
#include "shell/command_line.h"
#include "shell/launch.h"
#include "shell/settings_state.h"
#include "support/paths.h"

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

// The service's settings as the face edits them: saving reloads the service (RELOAD keeps a
// paused one paused), and the window offers to start or continue it.
SettingsWindowHost ServiceSettingsHost(const StartupValues& startup, const std::string& file,
                                       ServiceControl& service, ServiceFace& face) {
  SettingsWindowHost host = SettingsHostOf(startup);
  host.isService = true;
  host.settingsFile = file;
  host.workingCopy = ChangeExtension(file, "start.tmp");
  host.service = &service;
  host.reloadService = [&face] { return face.ask("RELOAD") == "OK"; };
  host.spoolNow = [&face] { face.SpoolNow(); };
  return host;
}

// The tray of this user while the system service runs: it shows the service and spools
// nothing itself.
int RunServiceFace(int argc, char** argv, const StartupValues& startup) {
  SignalEvents signalEvents;
  QApplication app(argc, argv);
  PrepareApplication(app);
  std::cout << "\nThe system service runs (" << ServiceControlSocket()
            << "): the tray shows it and spools nothing itself" << std::endl;
  TrayIcon tray;
  DesktopNotifier notifier(&tray);
  TrayMenu menu;
  std::unique_ptr<ServiceControl> service = SystemServiceControl();
  SettingsWindowHost settingsHost;
  ServiceFace* facePointer = nullptr;
  FaceWindows windows{[] { ShowAboutBox(nullptr, false); },
                      [&](const std::string& file) {
                        settingsHost = ServiceSettingsHost(startup, file, *service, *facePointer);
                        ShowSettingsWindow(settingsHost);
                      },
                      nullptr, nullptr};
  ServiceFace face(tray, menu, *service, notifier, windows, ServiceControlSocket());
  facePointer = &face;
  QObject::connect(&face, &ServiceFace::ended, &app, [&tray] {
    QApplication::closeAllWindows();
    tray.RemoveIcon();
    QCoreApplication::quit();
  });
  signalEvents.OnStop([] { QCoreApplication::quit(); });
  signalEvents.Watch();
  face.Start();
  return app.exec();
}

}  // namespace

int RunTraySpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock) {
  if (SystemServiceAnswers()) return RunServiceFace(argc, argv, startup);
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
