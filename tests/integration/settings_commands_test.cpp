// The settings commands of the real binary (--check-config, --set-password, --show-config),
// and the check the spooler runs at its start and at every reload.
#include <grp.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "service_fixture.h"
#include "settings/spooler_settings.h"

namespace pv {
namespace {

// The spooler tells its findings on standard error and as system log warnings (mail facility,
// severity warning: <20>), at the start and again when SIGHUP reloads the settings.
TEST_F(ServiceTest, SettingsFindingsAreToldAtStartAndAtEveryReload) {
  StartSpooler({{"RealyHostName", "relay.example"}});
  const std::string finding =
      "RealyHostName: unknown key in [Spooler]; did you mean RelayHostName?";
  ASSERT_TRUE(spooler_->syslog().WaitFor(finding));
  ASSERT_TRUE(WaitUntil([&] { return spooler_->notifications().CountContaining("READY=1") > 0; }));
  ASSERT_TRUE(spooler_->Signal(SIGHUP));
  ASSERT_TRUE(WaitUntil([&] { return spooler_->syslog().CountContaining(finding) == 2; }));
  for (const std::string& entry : spooler_->syslog().Messages()) {
    if (entry.find(finding) != std::string::npos) {
      EXPECT_EQ(entry.rfind("<20>", 0), 0u) << entry;
    }
  }
  StopSpooler();
  EXPECT_NE(spooler_->Output().find(dir_ + "/postvane.start: " + finding), std::string::npos);
}

class SettingsCommandsTest : public ServiceTest {
 protected:
  test::CommandResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    const std::string inputPath = dir_ + "/input.txt";
    std::ofstream(inputPath, std::ios::binary) << input;
    test::Environment env = Env();
    env["POSTVANE_SYSLOG_SOCKET"] = spooler_->syslog().path();
    return test::RunPostvane(args, env, dir_, std::chrono::seconds(10), inputPath);
  }
  SpoolerSettings Load() const {
    SettingsDefaults defaults;
    defaults.ProgramDirectory = spoolDir_;
    SpoolerSettings loaded;
    LoadSettings(SettingsFile(), defaults, loaded);
    return loaded;
  }
  std::string SettingsFile() const { return dir_ + "/postvane.start"; }
};

TEST_F(SettingsCommandsTest, CheckConfigTellsByItsExitCode) {
  WriteSettings();
  test::CommandResult result = Run({"--check-config"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output, SettingsFile() + ": no findings\n");

  WriteSettings({{"UpDelay", "sixty"}, {"RelaySecurity", "startls"}});
  result = Run({"--check-config"});
  EXPECT_EQ(result.exitCode, 1) << result.output;
  EXPECT_NE(result.output.find(SettingsFile() + ": UpDelay=sixty: is not a whole number"),
            std::string::npos) << result.output;
  EXPECT_NE(result.output.find(SettingsFile() + ": RelaySecurity=startls: "), std::string::npos)
      << result.output;
}

TEST_F(SettingsCommandsTest, SetPasswordStoresWhatTheLoaderDeciphers) {
  const std::string secret = "p\xC3\xA4ss word=;#";
  const test::CommandResult result = Run({"--set-password", "relay"}, secret + "\r\nignored\n");
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output.find(secret), std::string::npos) << "the secret is echoed";

  struct stat st {};
  ASSERT_EQ(::stat(SettingsFile().c_str(), &st), 0);
  // Root's new file goes to the service's group where the system has one.
  const bool shared = ::geteuid() == 0 && ::getgrnam("postvane") != nullptr;
  EXPECT_EQ(st.st_mode & 0777, shared ? 0640u : 0600u) << "a new settings file is the owner's alone";
  EXPECT_EQ(Load().RelayPassword, secret);
  EXPECT_EQ(test::ReadWholeFile(SettingsFile()).find(secret), std::string::npos);

  // An existing file keeps its mode; the other keys stay.
  ::chmod(SettingsFile().c_str(), 0640);
  ASSERT_EQ(Run({"--set-password", "proxy"}, "second\n").exitCode, 0);
  ASSERT_EQ(::stat(SettingsFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Load().ProxyPassword, "second");
  EXPECT_EQ(Load().RelayPassword, secret);

  const test::CommandResult shown = Run({"--show-config"});
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_NE(shown.output.find("RelayPassword"), std::string::npos) << shown.output;
  EXPECT_EQ(shown.output.find("second"), std::string::npos) << shown.output;
  EXPECT_EQ(Run({"--check-config"}).exitCode, 0) << "stored passwords decipher to text";

  EXPECT_EQ(Run({"--set-password", "relay"}, "").exitCode, 1) << "no line, nothing stored";
  EXPECT_EQ(Load().RelayPassword, secret);
}

}  // namespace
}  // namespace pv
