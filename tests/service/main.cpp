// The service control's tests run inside a QCoreApplication (the waits run its event loop).
// The system bus is pointed at nothing first: a test reaches only the buses it starts itself,
// never the machine's systemd.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
  if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
