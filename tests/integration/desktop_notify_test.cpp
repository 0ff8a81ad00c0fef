// The desktop spooler's results as notifications, end to end: the real `postvane` in tray mode
// (on Qt's offscreen platform: no panel at all, as on a GNOME desktop without a tray) delivers
// through the rig, and the notification daemon's mock on a session bus of the test's own
// records every Notify. The notifier's calls themselves: tests/gui/notifier_test.cpp.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "rig_env.h"
#include "spooler_process.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;

constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
)";

// A child process killed and reaped when it goes.
class Child {
 public:
  explicit Child(pid_t pid = -1) : pid_(pid) {}
  ~Child() { Stop(SIGKILL); }
  Child& operator=(Child&& other) noexcept {
    std::swap(pid_, other.pid_);
    return *this;
  }
  pid_t pid() const { return pid_; }
  std::optional<int> Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return std::nullopt;
    ::kill(pid_, signal);
    const std::optional<int> code = test::WaitForExit(pid_, std::chrono::seconds(20));
    if (!code) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    return code;
  }

 private:
  pid_t pid_;
};

class DesktopNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/dbus-daemon") || !fs::exists("/usr/bin/dbus-send") || !fs::exists("/usr/lib/python3/dist-packages/dbusmock"))
      GTEST_SKIP() << "needs dbus-daemon, dbus-bin and python3-dbusmock";
    rig_ = test::RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    char pattern[] = "/tmp/pv-notify-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ + "/spool");
    fs::create_directories(dir_ + "/run");
    fs::create_directories(dir_ + "/logs");
    fs::permissions(dir_ + "/run", fs::perms::owner_all);
    StartBus();
  }
  void TearDown() override {
    spooler_.Stop(SIGKILL);
    mock_.Stop();
    bus_.Stop();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  void StartBus() {
    const std::string socket = dir_ + "/bus.sock";
    std::vector<char> config(std::strlen(kBusConfig) + socket.size());
    std::snprintf(config.data(), config.size(), kBusConfig, socket.c_str());
    std::ofstream(dir_ + "/bus.conf") << config.data();
    address_ = "unix:path=" + socket;
    bus_ = Child(test::SpawnProgram({"/usr/bin/dbus-daemon", "--config-file=" + dir_ + "/bus.conf",
                                     "--nofork"},
                                    {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
                                    dir_ + "/bus.out"));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(socket); }));
    mock_ = Child(test::SpawnProgram({"/usr/bin/python3", "-m", "dbusmock", "--session", "-t",
                                      "notification_daemon", "-l", dir_ + "/notify.log"},
                                     {{"DBUS_SESSION_BUS_ADDRESS", address_}}, dir_ + "/mock.out"));
    ASSERT_TRUE(WaitUntil([&] { return ServerOnBus(); })) << test::ReadWholeFile(dir_ + "/mock.out");
  }

  // Whether the mock owns the notification server's name yet.
  bool ServerOnBus() const {
    const std::string out = dir_ + "/owner.out";
    fs::remove(out);
    const pid_t pid = test::SpawnProgram(
        {"/usr/bin/dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
         "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.Notifications"},
        {{"DBUS_SESSION_BUS_ADDRESS", address_}}, out);
    return pid > 0 && test::WaitForExit(pid, std::chrono::seconds(5)) == 0 &&
           test::ReadWholeFile(out).find("boolean true") != std::string::npos;
  }

  void StartTraySpooler(bool successBalloons, bool errorBalloons) {
    std::ofstream(dir_ + "/postvane.start")
        << "[Settings]\nDefaultSpoolDir=" << dir_ << "/spool/\nDNSServer="
        << rig_.Str("RIG_DNS_SERVER") << "\n[Spooler]\nRelayHostName=\nSenderHostName=client.src.test\n"
        << "DefaultReturnTo=\nLogFileDir=" << dir_ << "/logs/\nShowSuccessBallons="
        << successBalloons << "\nShowErrorBallons=" << errorBalloons << "\n";
    spooler_ = Child(test::SpawnPostvane({}, {{"POSTVANE_SETTINGS", dir_ + "/postvane.start"},
                                              {"POSTVANE_HOME", dir_ + "/home"},
                                              {"POSTVANE_RUNTIME_DIR", dir_ + "/run"},
                                              {"HOME", dir_ + "/userhome"},
                                              {"QT_QPA_PLATFORM", "offscreen"},
                                              {"DBUS_SESSION_BUS_ADDRESS", address_}},
                                         dir_ + "/spooler.out"));
  }

  void Drop(const std::string& name, const std::string& to) const {
    std::ofstream(dir_ + "/spool/" + name, std::ios::binary)
        << "From: s@src.test\r\nTo: " << to << "\r\nSubject: notify\r\nMime-Version: 1.0\r\n\r\nHi\r\n";
  }

  // What the mock logged since the row began.
  std::string Log() const { return test::ReadWholeFile(dir_ + "/notify.log").substr(logStart_); }

  test::RigEnv rig_;
  std::string dir_, address_;
  std::size_t logStart_ = 0;
  Child bus_, mock_, spooler_;
};

TEST_F(DesktopNotifyTest, EachResultIsANotificationByItsSwitch) {
  const struct {
    bool success, error;
  } switches[] = {{true, false}, {false, true}};
  for (const auto& s : switches) {
    SCOPED_TRACE(std::string("success ") + (s.success ? "on" : "off") + ", error " +
                 (s.error ? "on" : "off"));
    logStart_ = test::ReadWholeFile(dir_ + "/notify.log").size();
    Drop("ok.eml", "ok-notify@a.test");
    Drop("bad.eml", "reject-notify@a.test");
    StartTraySpooler(s.success, s.error);
    const std::string expected = s.success ? "1 eMail(s) send out." : "\"Postvane Error\"";
    EXPECT_TRUE(WaitUntil([&] { return Log().find(expected) != std::string::npos; }))
        << Log() << test::ReadWholeFile(dir_ + "/spooler.out");
    EXPECT_EQ(spooler_.Stop(), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("\"Postvane\""), std::string::npos) << log;
    EXPECT_EQ(log.find("\"Postvane Success\"") != std::string::npos, s.success) << log;
    EXPECT_EQ(log.find("\"Postvane Error\"") != std::string::npos, s.error) << log;
    for (const auto& entry : fs::directory_iterator(dir_ + "/spool")) fs::remove(entry.path());
  }
}

}  // namespace
}  // namespace pv
