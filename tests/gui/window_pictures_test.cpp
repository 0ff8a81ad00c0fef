// Pictures of every settings window as an X server shows them. Runs only where
// POSTVANE_PICTURE_DIR names a directory (tests/desktop/window_pictures.py starts Xvfb and sets
// it); elsewhere it is skipped.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <functional>

#include "../unit/temp_dir.h"
#include "desktop/output_settings_dialog.h"
#include "desktop/service_settings_window.h"
#include "desktop/settings_window.h"
#include "desktop/smtp_settings_dialog.h"
#include "fake_service_control.h"
#include "shell/startup.h"

namespace pv {
namespace {

// Shows the window, waits until the server has drawn it and saves what the screen holds there.
void Picture(QWidget& window, const QString& name) {
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(300);
  const QPixmap shot = window.screen()->grabWindow(window.winId());
  ASSERT_FALSE(shot.isNull());
  const QString path = QDir(qEnvironmentVariable("POSTVANE_PICTURE_DIR")).filePath(name + ".png");
  EXPECT_TRUE(shot.save(path)) << path.toStdString();
}

TEST(WindowPicturesTest, EverySettingsWindow) {
  if (qEnvironmentVariableIsEmpty("POSTVANE_PICTURE_DIR")) GTEST_SKIP() << "no picture directory";
  test::TempDir dir;
  const std::string spool = dir.path() + "/spool";
  std::filesystem::create_directory(spool);
  SettingsWindowHost host;
  host.settingsFile = dir.path() + "/postvane.start";
  host.workingCopy = host.settingsFile + ".tmp";
  host.defaults = {"192.0.2.53", "client.example.org", "alice@example.org", dir.path() + "/", ""};
  test::WriteFile(host.settingsFile,
                  "[Settings]\nDefaultSpoolDir=" + spool + "\nDNSServer=<SYSTEM>\n"
                  "[Spooler]\nRelayHostName=smtp.example.org:587\nRelayUser=alice\n"
                  "RelaySecurity=starttls\nProxyType=SOCKS5AUTH\nProxyServer=proxy.example.org:1080\n"
                  "ProxyUser=alice\nLogFileDir=" + dir.path() + "\n");
  SettingsWindow* window = ShowSettingsWindow(host);
  ASSERT_NE(window, nullptr);
  Picture(*window, "settings-window");
  {
    OutputSettingsDialog output(window->edit(), host.defaults, window);
    Picture(output, "output-settings");
  }
  {
    SmtpSettingsDialog smtp(window->edit(), host.defaults, window);
    Picture(smtp, "smtp-settings");
  }
  window->edit().SettingsChanged = false;
  window->close();
}

TEST(WindowPicturesTest, ServiceSettingsInEveryState) {
  if (qEnvironmentVariableIsEmpty("POSTVANE_PICTURE_DIR")) GTEST_SKIP() << "no picture directory";
  test::TempDir dir;
  const test::ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
  FakeService service;
  ServiceUtility util;
  util.ServiceName = kServiceName;
  util.ServiceDisplayName = kServiceDisplayName;
  util.ServiceDescription = kServiceDescription;
  util.ServiceFilename = "/usr/bin/postvane";
  util.RUNCommandLine = "/usr/bin/postvane";
  util.service = &service;
  util.hasServiceManager = true;
  const struct {
    const char* name;
    int startType, state;
  } states[] = {{"not-installed", kNoSuchService, kServiceUnknown},
                {"stopped", kStartAutomatic, kServiceStopped},
                {"running", kStartAutomatic, kServiceRunning},
                {"paused", kStartOnDemand, kServicePaused}};
  for (const auto& state : states) {
    service.startType = state.startType;
    service.state = state.state;
    ServiceSettingsWindow window(util);
    Picture(window, QStringLiteral("service-settings-") + QLatin1String(state.name));
  }
}

}  // namespace
}  // namespace pv
