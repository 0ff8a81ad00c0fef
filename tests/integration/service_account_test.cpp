// The service as its own system account: a throwaway system user and group own a 3730 spool
// directory, as dist/postvane-tmpfiles.conf makes it, and run `postvane service=1` with
// CAP_LEASE only, as the unit does. Needs root (useradd, setpriv); skipped otherwise.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>

#include "service_fixture.h"

namespace pv {
namespace {

bool Succeeds(const std::string& command) { return std::system(command.c_str()) == 0; }

// Three system accounts for one test, removed again with their groups: the service (group of
// its own name), a member of that group, and an outsider.
struct ThrowawayAccounts {
  explicit ThrowawayAccounts(const std::string& tag)
      : service("pvs" + tag), member("pvm" + tag), outsider("pvo" + tag) {
    const std::string add = "useradd -r -M -d /nonexistent -s /usr/sbin/nologin ";
    ok = Succeeds(add + "-U " + service) && Succeeds(add + "-U -G " + service + " " + member) &&
         Succeeds(add + "-U " + outsider);
  }
  ~ThrowawayAccounts() {
    for (const std::string& name : {outsider, member, service})
      Succeeds("userdel " + name + " 2>/dev/null; groupdel " + name + " 2>/dev/null; true");
  }
  // setpriv as `name` with its groups.
  static std::vector<std::string> As(const std::string& name) {
    return {"/usr/bin/setpriv", "--reuid=" + name, "--regid=" + name, "--init-groups"};
  }
  static std::string Shell(const std::string& name, const std::string& script) {
    std::string command;
    for (const std::string& part : As(name)) command += part + " ";
    return command + "-- /bin/sh -c '" + script + "' 2>/dev/null";
  }
  std::string service, member, outsider;
  bool ok = false;
};

class ServiceAccountTest : public ServiceTest {
 protected:
  // The accounts go after the spooler: userdel refuses a user whose process still runs.
  void TearDown() override {
    ServiceTest::TearDown();
    accounts_.reset();
  }
  std::unique_ptr<ThrowawayAccounts> accounts_;
};

TEST_F(ServiceAccountTest, GroupMembersDropMailsThatTheServiceAccountDelivers) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
      ::access("/usr/sbin/useradd", X_OK) != 0)
    GTEST_SKIP() << "needs root, setpriv and useradd";
  accounts_ = std::make_unique<ThrowawayAccounts>(std::to_string(::getpid() % 100000));
  const ThrowawayAccounts& accounts = *accounts_;
  ASSERT_TRUE(accounts.ok);
  const passwd* pw = ::getpwnam(accounts.service.c_str());
  ASSERT_NE(pw, nullptr);
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;

  // The layout of the installed service: the spool 3730 and the logs owned by the account,
  // the settings 0640 root:<group>, which the service can read but not write.
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::chown(spoolDir_.c_str(), uid, gid), 0);
  ASSERT_EQ(::chmod(spoolDir_.c_str(), 03730), 0);
  ASSERT_EQ(::chown(logDir_.c_str(), uid, gid), 0);
  ASSERT_EQ(::chmod(logDir_.c_str(), 02750), 0);
  for (const char* sub : {"/home", "/run"}) {
    fs::create_directories(dir_ + sub);
    ASSERT_EQ(::chown((dir_ + sub).c_str(), uid, gid), 0);
  }
  WriteSettings();
  const std::string settings = dir_ + "/postvane.start";
  ASSERT_EQ(::chown(settings.c_str(), 0, gid), 0);
  ASSERT_EQ(::chmod(settings.c_str(), 0640), 0);
  for (const char* socket : {"/notify.sock", "/syslog.sock"})
    ASSERT_EQ(::chmod((dir_ + socket).c_str(), 0666), 0);

  // The unit's capabilities: CAP_LEASE, ambient, and nothing else in the bounding set.
  std::vector<std::string> launcher = accounts.As(accounts.service);
  launcher.insert(launcher.end(), {"--inh-caps=-all,+lease", "--ambient-caps=+lease",
                                   "--bounding-set=-all,+lease", "--"});
  spooler_->SetLauncher(std::move(launcher));
  ASSERT_TRUE(spooler_->Start(Env()));

  // A member writes under a hidden name with mode 0640 and renames; it cannot list the spool.
  const std::string to = Address("member");
  const std::string source = dir_ + "/mail.txt";
  std::ofstream(source, std::ios::binary) << Mail(to);
  ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
  const std::string drop = "umask 077; cp " + source + " " + spoolDir_ + "/.job.tmp && chmod 0640 " +
                           spoolDir_ + "/.job.tmp && mv " + spoolDir_ + "/.job.tmp " + spoolDir_ +
                           "/job.eml";
  ASSERT_TRUE(Succeeds(accounts.Shell(accounts.member, drop)));
  // The same through postvane-spool, under the strictest umask: its file is 0640 all the same.
  const std::string viaTool = Address("tool");
  ASSERT_TRUE(Succeeds(accounts.Shell(
      accounts.member, "umask 077; echo hi | POSTVANE_RUNTIME_DIR=" + dir_ + "/run POSTVANE_SETTINGS=" +
                           settings + " " + POSTVANE_SPOOL_BINARY +
                           " mail --subject tool --from s@src.test --to " + viaTool)));
  // One left unreadable to the service (0600) is set aside where people see it.
  ASSERT_TRUE(Succeeds(accounts.Shell(
      accounts.member, "umask 077; cp " + source + " " + spoolDir_ + "/.p.tmp && mv " + spoolDir_ +
                           "/.p.tmp " + spoolDir_ + "/private.eml")));
  EXPECT_FALSE(Succeeds(accounts.Shell(accounts.member, "ls " + spoolDir_)));
  // An outsider cannot create a file there at all.
  EXPECT_FALSE(Succeeds(accounts.Shell(accounts.outsider, "echo x > " + spoolDir_ + "/.other.tmp")));

  ASSERT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to).has_value()) << spooler_->Output();
  ASSERT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", viaTool).has_value()) << spooler_->Output();
  // The control socket serves every local user, as the root service's does.
  struct stat control {};
  ASSERT_EQ(::stat((dir_ + "/run/control").c_str(), &control), 0);
  EXPECT_EQ(control.st_mode & 0777, 0666u);
  ASSERT_TRUE(WaitUntil([&] { return SpoolNames() == std::vector<std::string>{"private.eml.error"}; }))
      << ::testing::PrintToString(SpoolNames());
  ASSERT_EQ(CsvRowsWithCode("0").size(), 2u);
  ASSERT_EQ(CsvRowsWithCode("19").size(), 1u);
  for (const auto& entry : fs::directory_iterator(logDir_)) {
    struct stat st {};
    ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid) << entry.path();
    EXPECT_EQ(st.st_mode & 0777, 0640u) << entry.path();
  }
  StopSpooler();
}

}  // namespace
}  // namespace pv
