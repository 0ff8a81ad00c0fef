#pragma once
// A private system bus for one test with systemd's mock on it (python3-dbusmock and
// systemd_template.py), a spooler's control channel served on a thread of its own, and a
// SystemdServiceControl bound to both. The service tests and the window tests (tests/gui) share
// it; a target that includes it defines POSTVANE_SYSTEMD_TEMPLATE.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSemaphore>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../common/private_bus_config.h"
#include "platform/control_channel.h"
#include "service/systemd_service_control.h"

namespace pv::test {

inline const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");
inline const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
inline const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");


inline void StopProcess(QProcess& process) {
  if (process.state() == QProcess::NotRunning) return;
  process.terminate();
  if (!process.waitForFinished(3000)) {
    process.kill();
    process.waitForFinished(3000);
  }
}

// A spooler's control channel: PAUSE, CONTINUE and STATE as the running spooler answers them,
// or DENIED (a user who may not ask) and FAILED (settings that do not load) when told to.
class SpoolerChannel : public QThread {
 public:
  explicit SpoolerChannel(std::string runtimeDirectory) : directory_(std::move(runtimeDirectory)) {}
  ~SpoolerChannel() override { Stop(); }

  std::atomic<bool> paused{false};
  std::atomic<bool> deny{false};
  std::atomic<bool> failContinue{false};
  // PAUSE is answered OK, but the spooler stays running (a run in hand that never ends).
  std::atomic<bool> lingers{false};

  bool Start() {
    start();
    ready_.acquire();
    return listening_;
  }
  void Stop() {
    quit();
    wait();
  }
  std::string socketPath() const { return directory_ + "/" + kControlSocketName; }

 protected:
  void run() override {
    ControlServer server(directory_, [this](const std::string& request, uid_t) { return Answer(request); });
    std::string error;
    listening_ = server.Listen(error);
    ready_.release();
    if (listening_) exec();
  }

 private:
  std::string Answer(const std::string& request) {
    if ((request == "PAUSE" || request == "CONTINUE") && deny) return "DENIED";
    if (request == "PAUSE") {
      paused = !lingers;
      return "OK";
    }
    if (request == "CONTINUE") {
      if (failContinue) return "FAILED";
      paused = false;
      return "OK";
    }
    if (request == "STATE")
      return std::string("state=") + (paused ? "paused" : "waiting") +
             "\tnext=2024-05-01T10:00:00\tdir=/var/spool/postvane/\text=eml";
    return "UNKNOWN";
  }

  std::string directory_;
  QSemaphore ready_;
  bool listening_ = false;
};

// One call the mock took: the method and its arguments as text (a list joined by ",").
struct MockCall {
  std::string method;
  std::vector<std::string> args;
};

// A private system bus; with systemd's mock on it when the test asks for it.
class PrivateSystemBus : public testing::Test {
 protected:
  void SetUp() override {
    if (!QFileInfo(QStringLiteral("/usr/bin/dbus-daemon")).isExecutable())
      GTEST_SKIP() << "no /usr/bin/dbus-daemon (Debian package dbus-daemon)";
    ASSERT_TRUE(dir_.isValid());
    QFile config(dir_.filePath(QStringLiteral("bus.conf")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QByteArray::fromStdString(PrivateBusConfig("system", "unix:dir=" + dir_.path().toStdString())));
    config.close();
    daemon_.start(QStringLiteral("/usr/bin/dbus-daemon"),
                  {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return daemon_.canReadLine() || daemon_.state() == QProcess::NotRunning; }, 5000));
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    ASSERT_FALSE(address_.isEmpty()) << daemon_.readAllStandardError().toStdString();
    bus_.emplace(QDBusConnection::connectToBus(address_, connectionName()));
    ASSERT_TRUE(bus_->isConnected()) << bus_->lastError().message().toStdString();
  }

  void TearDown() override {
    bus_.reset();
    QDBusConnection::disconnectFromBus(connectionName());
    StopProcess(mock_);
    StopProcess(daemon_);
  }

  // systemd's mock on the bus; skips the test without python3-dbusmock.
  void StartSystemdMock() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    mock_.setProcessEnvironment(env);
    mock_.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                 QStringLiteral("-t"), QStringLiteral(POSTVANE_SYSTEMD_TEMPLATE), QStringLiteral("-l"),
                 dir_.filePath(QStringLiteral("mock.log"))});
    const auto up = [&] { return bus().interface()->isServiceRegistered(kSystemd).value(); };
    const bool started = QTest::qWaitFor([&] { return up() || mock_.state() == QProcess::NotRunning; }, 10000);
    if (!up() && mock_.state() == QProcess::NotRunning)
      GTEST_SKIP() << "/usr/bin/python3 -m dbusmock did not start (Debian package python3-dbusmock): "
                   << mock_.readAllStandardError().toStdString();
    ASSERT_TRUE(started && up()) << "the mock did not take " << kSystemd.toStdString();
  }

  QDBusConnection& bus() { return *bus_; }
  std::string path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)).toStdString(); }

  // A mock method; fails the test when the mock answers an error.
  QDBusMessage Mock(const QString& method, const QVariantList& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, kSystemdPath, kMockInterface, method);
    call.setArguments(args);
    const QDBusMessage reply = bus().call(call);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply;
  }

  // Every call of systemd's Manager interface since the last ClearCalls, oldest first.
  std::vector<MockCall> ManagerCalls() {
    static const QStringList kMockMethods = {"SetUnitFileState", "SetActiveState", "SetStartOutcome",
                                             "RefuseMethods", "GetNonInteractiveCalls"};
    const QDBusMessage reply = Mock(QStringLiteral("GetCalls"));
    std::vector<MockCall> calls;
    if (reply.type() != QDBusMessage::ReplyMessage) return calls;
    const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
      qulonglong stamp = 0;
      QString method;
      MockCall call;
      list.beginStructure();
      list >> stamp >> method;
      list.beginArray();
      while (!list.atEnd()) {
        QDBusVariant arg;
        list >> arg;
        call.args.push_back(ArgText(arg.variant()));
      }
      list.endArray();
      list.endStructure();
      call.method = method.toStdString();
      if (!kMockMethods.contains(method)) calls.push_back(call);
    }
    list.endArray();
    return calls;
  }

  // The requests among them ("Method firstArgument", or "Method" alone): no queries.
  std::vector<std::string> Requests() {
    std::vector<std::string> requests;
    for (const MockCall& call : ManagerCalls()) {
      if (call.method == "GetUnit" || call.method == "LoadUnit" || call.method == "GetUnitFileState")
        continue;
      requests.push_back(call.args.empty() ? call.method : call.method + " " + call.args.front());
    }
    return requests;
  }

  int CountCalls(const std::string& method) {
    int count = 0;
    for (const MockCall& call : ManagerCalls()) count += call.method == method;
    return count;
  }

 private:
  static std::string ArgText(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) return qdbus_cast<QStringList>(value).join(',').toStdString();
    if (value.metaType().id() == QMetaType::QStringList) return value.toStringList().join(',').toStdString();
    return value.toString().toStdString();
  }
  QString connectionName() const {
    return QStringLiteral("pv-systemd-test-") + QString::fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  QTemporaryDir dir_;
  QProcess daemon_;
  QProcess mock_;
  QString address_;
  std::optional<QDBusConnection> bus_;
};

// systemd's mock with the unit PostvaneSpooler.service, whose shipped unit file lies in the
// test's directory; the control channel (not yet started) and a SystemdServiceControl bound to
// both, whose waits only count (and call onWait_), whose administrator check and unit-file
// safety check answer what the test sets.
class SystemdMockTest : public PrivateSystemBus {
 protected:
  static constexpr const char* kUnit = "PostvaneSpooler.service";

  void SetUp() override {
    PrivateSystemBus::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    StartSystemdMock();
    if (IsSkipped() || HasFatalFailure()) return;
    unitFile_ = path("share/PostvaneSpooler.service");
    std::filesystem::create_directories(path("share"));
    std::ofstream(unitFile_) << "[Service]\nExecStart=/usr/bin/postvane service=1\n";
    channel_ = std::make_unique<SpoolerChannel>(path("run"));
    control_ = Control();
  }

  void TearDown() override {
    if (channel_) channel_->Stop();
    PrivateSystemBus::TearDown();
  }

  std::unique_ptr<SystemdServiceControl> Control() {
    ServiceDefinition definition;
    definition.unitFile = unitFile_;
    definition.controlSocket = path("run") + "/" + kControlSocketName;
    ServiceControlHooks hooks;
    hooks.wait = [this](int seconds) {
      EXPECT_EQ(seconds, 1);
      ++waits_;
      if (onWait_) onWait_();
    };
    hooks.isAdministrator = [this] { return administrator_; };
    hooks.unitSafetyProblem = [this](const std::string& file) {
      EXPECT_EQ(file, unitFile_);
      return safetyProblem_;
    };
    return std::make_unique<SystemdServiceControl>(definition, SystemdBus(bus()), hooks);
  }

  // The unit as an install with that unit-file state leaves it ("" for none), then a clean log.
  void Given(const char* fileState, const char* activeState = "inactive") {
    Mock("SetUnitFileState", {kUnit, fileState});
    Mock("SetActiveState", {kUnit, activeState});
    Mock("ClearCalls");
    waits_ = 0;
  }

  SystemdServiceControl& control() { return *control_; }

  std::string unitFile_;
  std::unique_ptr<SpoolerChannel> channel_;
  std::unique_ptr<SystemdServiceControl> control_;
  bool administrator_ = true;
  std::string safetyProblem_;
  int waits_ = 0;
  std::function<void()> onWait_;
};

}  // namespace pv::test
