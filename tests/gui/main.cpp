// The tests run inside a QApplication, as the tray needs one; with no platform named, offscreen
// (no display, no panel). Without a session bus named, none: nothing may autolaunch one, and the
// notifier's tests start buses of their own.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // No session bus unless a test brings its own: nothing may start one that outlives the test.
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
