// The system service seen from a desktop user's tray, end to end: the real `postvane service=1`
// (as root, on a runtime directory of the test's own) and, as a member of the group postvane,
// the real `postvane` at a desktop (Qt's offscreen platform, a session bus of the test's own
// with the notification daemon's mock). The tray becomes the service's face: the service's
// deliveries through the rig arrive as the member's notifications. On the control channel a
// member pauses and continues the service; another user is refused. Needs root (useradd,
// setpriv); skipped otherwise.
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "desktop_bus.h"
#include "platform/control_channel.h"
#include "service_fixture.h"

namespace pv {
namespace {

bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }

// Two people for one test, removed again: a member of the group postvane (made for the test
// when the system has none) and an outsider.
struct DesktopUsers {
  explicit DesktopUsers(const std::string& tag) : member("pvfm" + tag), outsider("pvfo" + tag) {
    madeGroup = ::getgrnam("postvane") == nullptr && Succeeds("groupadd -r postvane");
    const std::string add = "useradd -M -d /nonexistent -s /usr/sbin/nologin -U ";
    ok = ::getgrnam("postvane") != nullptr && Succeeds(add + "-G postvane " + member) &&
         Succeeds(add + outsider);
  }
  ~DesktopUsers() {
    for (const std::string& name : {outsider, member})
      Succeeds("userdel " + name + " 2>/dev/null; groupdel " + name + " 2>/dev/null; true");
    if (madeGroup) Succeeds("groupdel postvane 2>/dev/null; true");
  }
  static std::vector<std::string> As(const std::string& name) {
    return {"/usr/bin/setpriv", "--reuid=" + name, "--regid=" + name, "--init-groups", "--"};
  }
  std::string member, outsider;
  bool madeGroup = false, ok = false;
};

// One request to the control channel from a child process running as `name`.
std::string AskAs(const std::string& name, const std::string& socket, const std::string& request) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    const passwd* pw = ::getpwnam(name.c_str());
    if (pw == nullptr || ::initgroups(name.c_str(), pw->pw_gid) != 0 || ::setgid(pw->pw_gid) != 0 ||
        ::setuid(pw->pw_uid) != 0)
      ::_exit(1);
    std::string error;
    std::string answer = SendControlRequest(socket, request, error);
    if (answer.empty()) answer = "error: " + error;
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string answer;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  ::waitpid(pid, nullptr, 0);
  return answer;
}

class DesktopServiceFaceTest : public ServiceTest {
 protected:
  void TearDown() override {
    face_.Stop(SIGKILL);
    bus_.Stop();
    ServiceTest::TearDown();
    users_.reset();  // after every process of theirs
  }

  // A directory of the member's own under the test's directory.
  std::string MemberDirectory(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    fs::create_directories(path);
    const passwd* pw = ::getpwnam(users_->member.c_str());
    EXPECT_EQ(::chown(path.c_str(), pw->pw_uid, pw->pw_gid), 0);
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  std::unique_ptr<DesktopUsers> users_;
  test::NotificationBus bus_;
  test::Child face_;
};

TEST_F(DesktopServiceFaceTest, AMembersTrayShowsTheServicesResultsAndMembersRunIt) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
      ::access("/usr/sbin/useradd", X_OK) != 0 || !test::DesktopBusToolsPresent())
    GTEST_SKIP() << "needs root, setpriv, useradd, dbus-daemon and python3-dbusmock";
  users_ = std::make_unique<DesktopUsers>(std::to_string(::getpid() % 100000));
  ASSERT_TRUE(users_->ok);
  // As systemd makes /run/postvane: open to every user, the socket 0666.
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  fs::create_directories(dir_ + "/run");
  ASSERT_EQ(::chmod((dir_ + "/run").c_str(), 0755), 0);
  StartSpooler({{"UpDelay", "3600"}, {"ShowSuccessBallons", "1"}, {"ShowErrorBallons", "1"}});
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  const std::string socket = dir_ + "/run/control";

  // Members pause and continue the service; others may ask for its state only.
  EXPECT_EQ(AskAs(users_->member, socket, "PAUSE"), "OK");
  EXPECT_EQ(AskAs(users_->outsider, socket, "CONTINUE"), "DENIED");
  EXPECT_EQ(AskAs(users_->outsider, socket, "STATE").rfind("state=paused\t", 0), 0u);
  EXPECT_EQ(AskAs(users_->member, socket, "CONTINUE"), "OK");
  EXPECT_EQ(AskAs(users_->outsider, socket, "WATCH"), "DENIED");

  const std::string busDir = MemberDirectory("bus");
  ASSERT_TRUE(bus_.Start(busDir, DesktopUsers::As(users_->member))) << bus_.MockOutput();
  const std::string home = MemberDirectory("memberhome");
  face_ = test::Child(test::SpawnPostvane(
      {}, {{"HOME", home}, {"POSTVANE_HOME", home + "/pv"}, {"POSTVANE_RUNTIME_DIR", MemberDirectory("memberrun")},
           {"POSTVANE_SERVICE_RUNTIME_DIR", dir_ + "/run"}, {"QT_QPA_PLATFORM", "offscreen"},
           {"DBUS_SESSION_BUS_ADDRESS", bus_.address()}},
      dir_ + "/face.out", DesktopUsers::As(users_->member)));
  ASSERT_TRUE(WaitUntil([&] {
    return test::ReadWholeFile(dir_ + "/face.out").find("the tray shows it") != std::string::npos;
  })) << test::ReadWholeFile(dir_ + "/face.out");

  const std::string ok = Address("ok"), refused = Address("reject");
  Drop("good.eml", Mail(ok, "", "good"));
  Drop("bad.eml", Mail(refused, "", "bad"));
  // The face's watch may take a moment: ask for the run once it shows the state.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_EQ(test::RunPostvane({"--spool-now"}, Env(), dir_).exitCode, 0);
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", ok));
  EXPECT_TRUE(WaitUntil([&] { return bus_.Log().find("1 eMail(s) send out.") != std::string::npos; }))
      << bus_.Log() << test::ReadWholeFile(dir_ + "/face.out");
  const std::string log = bus_.Log();
  EXPECT_NE(log.find("\"Postvane Success\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"Postvane Error\""), std::string::npos) << log;
  EXPECT_NE(log.find(refused), std::string::npos) << log;

  // The face ends with the service.
  StopSpooler();
  EXPECT_TRUE(test::WaitForExit(face_.pid(), std::chrono::seconds(20)).has_value())
      << test::ReadWholeFile(dir_ + "/face.out");
}

}  // namespace
}  // namespace pv
