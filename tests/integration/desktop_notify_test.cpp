// The desktop spooler's results as notifications, end to end: the real `postvane` in tray mode
// (on Qt's offscreen platform: no panel at all, as on a GNOME desktop without a tray) delivers
// through the rig, and the notification daemon's mock on a session bus of the test's own
// records every Notify. The notifier's calls themselves: tests/gui/notifier_test.cpp.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "desktop_bus.h"
#include "rig_env.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;

using test::Child;

class DesktopNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::DesktopBusToolsPresent())
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
    ASSERT_TRUE(bus_.Start(dir_)) << bus_.MockOutput();
    address_ = bus_.address();
  }
  void TearDown() override {
    spooler_.Stop(SIGKILL);
    bus_.Stop();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
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
  std::string Log() const { return bus_.Log().substr(logStart_); }

  test::RigEnv rig_;
  std::string dir_, address_;
  std::size_t logStart_ = 0;
  test::NotificationBus bus_;
  Child spooler_;
};

TEST_F(DesktopNotifyTest, EachResultIsANotificationByItsSwitch) {
  const struct {
    bool success, error;
  } switches[] = {{true, false}, {false, true}};
  for (const auto& s : switches) {
    SCOPED_TRACE(std::string("success ") + (s.success ? "on" : "off") + ", error " +
                 (s.error ? "on" : "off"));
    logStart_ = bus_.Log().size();
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
