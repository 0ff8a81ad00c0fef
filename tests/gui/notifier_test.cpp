// The desktop notifier against a session bus of the test's own: with the notification daemon's
// mock (python3-dbusmock) on it, without any server, and not reachable at all.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "../common/private_bus_config.h"
#include "desktop/desktop_notifier.h"
#include "desktop/tray_icon.h"
#include "desktop/tray_status.h"

namespace pv {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kConnection = QStringLiteral("pv-notifier-test");
constexpr int kWaitMs = 5000;


QProcessEnvironment WithBus(const QString& address) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
  return env;
}

void Stop(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(3000)) {
    process.kill();
    process.waitForFinished(3000);
  }
}

// A private session bus for each test; the connection to it is bus().
class NotificationBusTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!QFileInfo(QStringLiteral("/usr/bin/dbus-daemon")).isExecutable())
      GTEST_SKIP() << "no /usr/bin/dbus-daemon (Debian package dbus-daemon)";
    ASSERT_TRUE(dir_.isValid());
    QFile config(dir_.filePath(QStringLiteral("bus.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QByteArray::fromStdString(test::PrivateBusConfig("session", "unix:dir=" + dir_.path().toStdString())));
    config.close();
    daemon_.setProcessEnvironment(WithBus(QStringLiteral("unix:path=/nonexistent")));
    daemon_.start(QStringLiteral("/usr/bin/dbus-daemon"),
                  {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine() || daemon_.state() == QProcess::NotRunning; }, kWaitMs));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    ASSERT_FALSE(address_.isEmpty()) << daemon_.readAllStandardError().toStdString();
    bus_.emplace(QDBusConnection::connectToBus(address_, kConnection));
    ASSERT_TRUE(bus_->isConnected()) << bus_->lastError().message().toStdString();
  }

  void TearDown() override {
    bus_.reset();
    QDBusConnection::disconnectFromBus(kConnection);
    Stop(mock_);
    Stop(daemon_);
  }

  QDBusConnection& bus() { return *bus_; }

  QTemporaryDir dir_;
  QProcess daemon_;
  QProcess mock_;
  QString address_;
  std::optional<QDBusConnection> bus_;
};

// The same bus with the notification daemon's mock on it.
class NotificationServerTest : public NotificationBusTest {
 protected:
  void SetUp() override {
    NotificationBusTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    mock_.setProcessEnvironment(WithBus(address_));
    mock_.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"), QStringLiteral("-t"),
                 QStringLiteral("notification_daemon"), QStringLiteral("-l"), dir_.filePath(QStringLiteral("mock.log"))});
    const auto up = [&] { return bus().interface()->isServiceRegistered(kService).value(); };
    const bool started = QTest::qWaitFor([&] { return up() || mock_.state() == QProcess::NotRunning; }, 10000);
    if (!up() && mock_.state() == QProcess::NotRunning)
      GTEST_SKIP() << "/usr/bin/python3 -m dbusmock did not start (Debian package python3-dbusmock): "
                   << mock_.readAllStandardError().toStdString();
    ASSERT_TRUE(started && up()) << "the mock did not take " << kService.toStdString();
  }

  QDBusMessage CallMock(const QString& method, const QVariantList& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kMockInterface, method);
    call.setArguments(args);
    return bus().call(call);
  }

  // The arguments of every Notify the mock took, oldest first (GetMethodCalls: a(tav)).
  std::vector<QVariantList> NotifyCalls() {
    const QDBusMessage reply = CallMock(QStringLiteral("GetMethodCalls"), {QStringLiteral("Notify")});
    std::vector<QVariantList> calls;
    if (reply.type() != QDBusMessage::ReplyMessage) {
      ADD_FAILURE() << reply.errorMessage().toStdString();
      return calls;
    }
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
      qulonglong stamp = 0;
      QVariantList args;
      list.beginStructure();
      list >> stamp;
      list.beginArray();
      while (!list.atEnd()) {
        QDBusVariant arg;
        list >> arg;
        args << arg.variant();
      }
      list.endArray();
      list.endStructure();
      calls.push_back(args);
    }
    list.endArray();
    return calls;
  }
};

// Same value and same D-Bus type.
void ExpectArg(const QVariant& actual, const QVariant& expected, const char* what) {
  EXPECT_STREQ(actual.metaType().name(), expected.metaType().name()) << what;
  EXPECT_TRUE(actual == expected) << what << ": " << actual.toString().toStdString();
}

TEST_F(NotificationServerTest, NotifyCarriesTheBalloon) {
  struct Case {
    const char* name;
    BalloonIcon icon;
    std::string title;
    std::string text;
    bool fromWorker;
    const char* appIcon;
    const char* body;
    const char* category;
  };
  const std::vector<Case> cases = {
      {"success", BalloonIcon::Information, "Postvane Success", "3 eMail(s) send out.", false, "dialog-information",
       "3 eMail(s) send out.", "transfer.complete"},
      {"error, markup escaped", BalloonIcon::Error, "Postvane Error", "<b>R&D</b> refused: 550 <a@b.example>", false,
       "dialog-error", "&lt;b&gt;R&amp;D&lt;/b&gt; refused: 550 &lt;a@b.example&gt;", "transfer.error"},
      {"warning from the worker thread", BalloonIcon::Warning, "Postvane Error", "Mail 'x' & \"y\" kept", true,
       "dialog-warning", "Mail 'x' &amp; \"y\" kept", "transfer.error"},
  };
  TrayIcon tray;
  DesktopNotifier notifier(&tray, bus());
  QSignalSpy sent(&notifier, &DesktopNotifier::NotificationSent);
  QSignalSpy fallback(&notifier, &DesktopNotifier::BalloonFallback);
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    if (c.fromWorker) {
      std::thread([&] { notifier.ShowBalloon(c.icon, c.title, c.text); }).join();
    } else {
      notifier.ShowBalloon(c.icon, c.title, c.text);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return sent.count() > int(i) || !fallback.isEmpty(); }, kWaitMs));
    ASSERT_EQ(sent.count(), int(i + 1));
    EXPECT_EQ(sent.last().at(0).toUInt(), uint(i + 1));  // the mock's ids count from 1
    const std::vector<QVariantList> calls = NotifyCalls();
    ASSERT_EQ(calls.size(), i + 1);
    const QVariantList& args = calls.back();
    ASSERT_EQ(args.size(), 8);
    ExpectArg(args[0], QStringLiteral("Postvane"), "app_name");
    ExpectArg(args[1], QVariant::fromValue(uint(0)), "replaces_id");
    ExpectArg(args[2], QString::fromLatin1(c.appIcon), "app_icon");
    ExpectArg(args[3], QString::fromStdString(c.title), "summary");
    ExpectArg(args[4], QString::fromStdString(c.body), "body");
    EXPECT_TRUE(qdbus_cast<QStringList>(args[5]).isEmpty()) << "actions";
    const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
    EXPECT_EQ(hints.keys(), (QStringList{"category", "desktop-entry", "urgency"}));
    ExpectArg(hints.value("category"), QString::fromLatin1(c.category), "category");
    ExpectArg(hints.value("desktop-entry"), QStringLiteral("postvane"), "desktop-entry");
    ExpectArg(hints.value("urgency"), QVariant::fromValue<uchar>(1), "urgency");
    ExpectArg(args[7], -1, "expire_timeout");
  }
  EXPECT_TRUE(fallback.isEmpty());
}

TEST_F(NotificationServerTest, ServerErrorFallsBackToTheTray) {
  const QDBusMessage replaced = CallMock(
      QStringLiteral("AddMethod"),
      {kService, QStringLiteral("Notify"), QStringLiteral("susssasa{sv}i"), QStringLiteral("u"),
       QStringLiteral("raise dbus.exceptions.DBusException('too many', name='org.freedesktop.Notifications.Error')")});
  ASSERT_EQ(replaced.type(), QDBusMessage::ReplyMessage) << replaced.errorMessage().toStdString();
  TrayIcon tray;
  DesktopNotifier notifier(&tray, bus());
  QSignalSpy sent(&notifier, &DesktopNotifier::NotificationSent);
  QSignalSpy fallback(&notifier, &DesktopNotifier::BalloonFallback);
  notifier.ShowBalloon(BalloonIcon::Error, "Postvane Error", "x");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !fallback.isEmpty(); }, kWaitMs));
  EXPECT_EQ(NotifyCalls().size(), 1u);
  EXPECT_TRUE(sent.isEmpty());
}

TEST_F(NotificationBusTest, NoServerFallsBackToTheTray) {
  struct Case {
    const char* name;
    bool reachable;
    bool withTray;
  };
  const std::vector<Case> cases = {
      {"bus without a server", true, true},
      {"bus without a server, no tray", true, false},
      {"no bus", false, true},
  };
  TrayIcon tray;
  tray.SetIcon(LoadTrayPicture(0), PreparingTrayStatus().tooltip);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString name = QStringLiteral("pv-notifier-test-nobus");
    const QDBusConnection connection =
        c.reachable ? bus() : QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), name);
    DesktopNotifier notifier(c.withTray ? &tray : nullptr, connection);
    QSignalSpy sent(&notifier, &DesktopNotifier::NotificationSent);
    QSignalSpy fallback(&notifier, &DesktopNotifier::BalloonFallback);
    notifier.ShowBalloon(BalloonIcon::Information, "Postvane Success", "1 eMail(s) send out.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fallback.isEmpty(); }, kWaitMs));
    EXPECT_EQ(fallback.count(), 1);
    EXPECT_TRUE(sent.isEmpty());
    if (!c.reachable) QDBusConnection::disconnectFromBus(name);
  }
}

QMessageBox* FindCriticalMessage() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == QLatin1String("msgCritical")) return qobject_cast<QMessageBox*>(widget);
  return nullptr;
}

TEST(CriticalMessageTest, WorkerReturnsAtOnceAndTheBoxOpens) {
  DesktopNotifier notifier(nullptr, QDBusConnection(QStringLiteral("pv-notifier-test-none")));
  const std::string text = "Cannot write to the spool directory <spool>";
  std::promise<void> returned;
  std::future<void> done = returned.get_future();
  std::thread worker([&] {
    notifier.ShowCriticalMessage(text);
    returned.set_value();
  });
  // The GUI thread runs no events meanwhile: a caller that waited for it would not return.
  const bool atOnce = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!atOnce) (void)QTest::qWaitFor([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  worker.join();
  EXPECT_TRUE(atOnce);

  QPointer<QMessageBox> box;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (box = FindCriticalMessage()) && box->isVisible(); }, kWaitMs));
  EXPECT_EQ(box->text(), QString::fromStdString(text));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("Postvane"));
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  box->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, kWaitMs));
}

}  // namespace
}  // namespace pv
