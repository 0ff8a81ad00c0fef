#include "desktop/desktop_modes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <iostream>

#include "desktop/about_box.h"
#include "desktop/desktop_notifier.h"
#include "desktop/service_face.h"
#include "desktop/service_offers.h"
#include "desktop/service_settings_window.h"
#include "desktop/settings_window.h"
#include "desktop/system_service.h"
#include "desktop/test_object_window.h"
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

// The autostart and service window's view of this process.
ServiceUtility ServiceUtilityOf(const StartupValues& startup, ServiceControl& service,
                                bool startedAsService) {
  ServiceUtility utility;
  utility.NTCommandLine = startup.ProgramPath + " service=1";
  utility.RUNCommandLine = startup.ProgramPath;
  utility.HelpFileName = "spooler.htm";
  utility.ServiceName = startup.ServiceName;
  utility.ServiceDisplayName = startup.ServiceDisplayName;
  utility.ServiceDescription = startup.ServiceDescription;
  utility.ServiceFilename = startup.ProgramPath;
  utility.StartedAsService = startedAsService;
  utility.service = &service;
  utility.hasServiceManager = HasServiceManager();
  return utility;
}

// The tray of this user while the system service runs: it shows the service and spools
// nothing itself.
int RunServiceFace(QApplication& app, SignalEvents& signalEvents, const StartupValues& startup) {
  std::cout << "\nThe system service runs (" << ServiceControlSocket()
            << "): the tray shows it and spools nothing itself" << std::endl;
  TrayIcon tray;
  DesktopNotifier notifier(&tray);
  TrayMenu menu;
  std::unique_ptr<ServiceControl> service = SystemServiceControl();
  ServiceUtility utility = ServiceUtilityOf(startup, *service, true);
  SettingsWindowHost settingsHost;
  ServiceFace* facePointer = nullptr;
  FaceWindows windows{[] { ShowAboutBox(nullptr, false); },
                      [&](const std::string& file) {
                        settingsHost = ServiceSettingsHost(startup, file, *service, *facePointer);
                        settingsHost.serviceSettings = [&utility] {
                          return ShowServiceSettingsDialog(utility);
                        };
                        ShowSettingsWindow(settingsHost);
                      },
                      [&utility] { return ShowServiceSettingsDialog(utility); },
                      [&startup, &facePointer] {
                        // The test compares with the directory the service spools.
                        TestObjectHost host = TestObjectHostOf(startup, true);
                        const std::string file = facePointer->view().settingsFile;
                        if (!file.empty()) host.settingsFile = file;
                        ShowTestObjectWindow(host);
                      }};
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

// This user's own spooler with its tray. tookOver: it ended because the system service was
// started from its service window.
int RunOwnSpooler(QApplication& app, SignalEvents& signalEvents, int argc, char** argv,
                  const StartupValues& startup, bool holdsInstanceLock, bool& tookOver) {
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
  std::unique_ptr<ServiceControl> service = SystemServiceControl();
  ServiceUtility utility = ServiceUtilityOf(startup, *service, false);
  // Also from the settings window: a service started there ends this spooler as well.
  const auto serviceWindow = [&utility, &tookOver, &spooler] {
    tookOver = !ShowServiceSettingsDialog(utility);
    if (tookOver && spooler) QTimer::singleShot(0, spooler, [&spooler] {
      if (spooler) spooler->EndService();
    });
    return !tookOver;
  };
  settingsHost.serviceSettings = serviceWindow;
  const TrayWindows windows{[] { ShowAboutBox(nullptr, false); },
                            [&settingsHost] { ShowSettingsWindow(settingsHost); },
                            [] {
                              if (SettingsWindow* window = OpenSettingsWindow())
                                window->SaveBeforeEnd();
                            },
                            serviceWindow,
                            [&startup] { ShowTestObjectWindow(TestObjectHostOf(startup, false)); }};
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

}  // namespace

int RunTraySpooler(int argc, char** argv, const StartupValues& startup, bool holdsInstanceLock) {
  SignalEvents signalEvents;  // before any thread exists
  QApplication app(argc, argv);
  PrepareApplication(app);
  if (SystemServiceAnswers()) return RunServiceFace(app, signalEvents, startup);
  bool tookOver = false;
  const int code =
      RunOwnSpooler(app, signalEvents, argc, argv, startup, holdsInstanceLock, tookOver);
  // The service started from this tray now spools; the tray comes back as its face, as the
  // start message promised.
  if (tookOver && SystemServiceAnswers()) return RunServiceFace(app, signalEvents, startup);
  return code;
}

int RunSettingsWindow(int argc, char** argv, const StartupValues& startup) {
  QApplication app(argc, argv);
  PrepareApplication(app);
  if (IsRemoteSession())
    QMessageBox::information(nullptr, QObject::tr("Postvane"), RemoteSessionMessage());
  std::unique_ptr<ServiceControl> service = SystemServiceControl();
  ServiceUtility utility = ServiceUtilityOf(startup, *service, false);
  SettingsWindowHost host = SettingsHostOf(startup);
  host.settingsMode = true;
  host.service = service.get();
  host.serviceSettings = [&utility] { return ShowServiceSettingsDialog(utility); };
  SettingsWindow* window = ShowSettingsWindow(host);
  if (!window) return 1;
  // The process ends with its one window.
  QObject::connect(window, &QObject::destroyed, &app, &QCoreApplication::quit);
  return app.exec();
}

DesktopModes DesktopRunModes() { return {RunTraySpooler, RunSettingsWindow}; }

}  // namespace pv
