// The real `postvane` binary as a script calls it: wrong arguments are refused before anything
// starts, and --deliver judges a file as the spool run does and says by its exit code what
// became of the mail, against the loopback rig.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "rig_env.h"
#include "spooler_process.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::RigEnv;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    char pattern[] = "/tmp/pv-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    static std::atomic<int> counter{0};
    marker_ = "cli" + std::to_string(::getpid()) + "x" + std::to_string(++counter);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  void WriteFile(const std::string& path, const std::string& text) const {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // Settings for the rig: its DNS, no relay, no return address.
  void WriteSettings() const {
    WriteFile(dir_ + "/postvane.start",
              "[Settings]\nDefaultSpoolDir=" + dir_ + "/spool/\nDNSServer=" +
                  rig_.Str("RIG_DNS_SERVER") +
                  "\n[Spooler]\nRelayHostName=\nSenderHostName=client.src.test\n"
                  "DefaultReturnTo=\nLogFileDir=" + dir_ + "/logs/\n");
  }

  // Every path the program may create lives under dir_; HOME too, so no user store is touched.
  test::Environment Env() const {
    return {{"POSTVANE_SETTINGS", dir_ + "/postvane.start"},
            {"POSTVANE_HOME", dir_ + "/home"},
            {"POSTVANE_RUNTIME_DIR", dir_ + "/run"},
            {"HOME", dir_ + "/userhome"}};
  }

  std::string Mail(const std::string& to, bool mimeVersion = true) const {
    return "From: Sender <s@src.test>\r\nTo: " + to + "\r\nSubject: " + marker_ + "\r\n" +
           (mimeVersion ? "Mime-Version: 1.0\r\n" : "") + "\r\nHello from " + marker_ +
           ".\r\n";
  }
  std::string Address(const std::string& kind) const { return kind + "-" + marker_ + "@a.test"; }

  std::size_t MailsTo(const std::string& recipient) const {
    std::size_t count = 0;
    for (const test::ReceivedMail& mail : test::ListMails(rig_.Str("RIG_MX1_MAILDIR")))
      for (const std::string& rcpt : mail.Strings("rcpt_tos")) count += rcpt == recipient;
    return count;
  }

  RigEnv rig_;
  std::string dir_, marker_;
};

TEST_F(CliTest, UnknownOptionsAndADeliverWithoutFileStartNothing) {
  const std::vector<std::vector<std::string>> wrong = {
      {"service=1", "--bogus"}};
  for (const auto& args : wrong) {
    const test::CommandResult result = test::RunPostvane(args, Env(), dir_);
    EXPECT_EQ(result.exitCode, 64) << args.front();
    EXPECT_NE(result.output.find("Usage: postvane"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Start-up values"), std::string::npos) << result.output;
    // No lock, no control socket, no program directory, no recorded settings file.
    EXPECT_FALSE(fs::exists(dir_ + "/run")) << args.front();
    EXPECT_FALSE(fs::exists(dir_ + "/home")) << args.front();
    EXPECT_FALSE(fs::exists(dir_ + "/userhome")) << args.front();
  }
}

TEST_F(CliTest, DeliverTellsWhatBecameOfTheMailByItsExitCode) {
  WriteSettings();
  struct Case {
    std::string name, text;
    int code;
    std::string served;  // a recipient the server must have accepted, or ""
  };
  const std::string ok = Address("ok"), okToo = Address("ok2");
  // Mixed outcomes: command_line_test.cpp.
  const std::vector<Case> cases = {
      {"ok.eml", Mail(ok), 0, ok},
      {"lf-only.eml", "From: s@src.test\nTo: " + okToo + "\nSubject: " + marker_ +
                          "\nMime-Version: 1.0\n\nHello\n", 0, okToo},
      {"reject.eml", Mail(Address("reject")), 69, ""},
      {"defer.eml", Mail(Address("defer")), 75, ""},
      {"no-mime.eml", Mail(Address("ok4"), false), 65, ""},
  };
  for (const Case& c : cases) {
    const std::string path = dir_ + "/" + c.name;
    WriteFile(path, c.text);
    const test::CommandResult result = test::RunPostvane({"--deliver", path}, Env(), dir_);
    EXPECT_EQ(result.exitCode, c.code) << c.name << "\n" << result.output;
    EXPECT_EQ(test::ReadWholeFile(path), c.text) << c.name << ": the file is left as it is";
    if (!c.served.empty()) {
      EXPECT_EQ(MailsTo(c.served), 1u) << c.name;
    }
  }
  EXPECT_EQ(MailsTo(Address("ok4")), 0u) << "an invalid file is not sent";
  EXPECT_FALSE(fs::exists(dir_ + "/run")) << "a one-off command takes no instance lock";
  EXPECT_EQ(test::RunPostvane({"--deliver", dir_ + "/missing.eml"}, Env(), dir_).exitCode, 66);
}

// Without a desktop that answers, tray mode is the headless user spooler and settings mode
// prints the settings and says why it cannot show them; a second start that finds a headless
// spooler running (which has no settings window to raise) is settings mode as well.
TEST_F(CliTest, WithoutADesktopTheUserSpoolerRunsHeadlessAndSettingsModeSaysWhy) {
  WriteSettings();
  const struct {
    const char* display;
    const char* reason;
  } displays[] = {{"", "neither DISPLAY nor WAYLAND_DISPLAY is set"},
                  {":97", "the X display :97 does not answer"}};
  for (const auto& d : displays) {
    SCOPED_TRACE(d.display);
    test::Environment env = Env();
    if (*d.display) env["DISPLAY"] = d.display;
    const test::CommandResult settingsMode = test::RunPostvane({"settingsmode=1"}, env, dir_);
    EXPECT_EQ(settingsMode.exitCode, 1) << settingsMode.output;
    EXPECT_NE(settingsMode.output.find("Settings file: " + dir_ + "/postvane.start"),
              std::string::npos) << settingsMode.output;
    EXPECT_NE(settingsMode.output.find(std::string("postvane: settings mode needs a desktop "
                                                   "session (") + d.reason + ")"),
              std::string::npos) << settingsMode.output;
  }

  const std::string output = dir_ + "/spooler.out";
  const pid_t spooler = test::SpawnPostvane({}, Env(), output);
  ASSERT_GT(spooler, 0);
  EXPECT_TRUE(test::WaitUntil([&] {
    return test::ReadWholeFile(output).find("Spooling ") != std::string::npos;
  })) << test::ReadWholeFile(output);
  EXPECT_NE(test::ReadWholeFile(output).find("spooling without a tray icon"), std::string::npos);
  const test::CommandResult second = test::RunPostvane({}, Env(), dir_);
  EXPECT_EQ(second.exitCode, 1) << second.output;
  EXPECT_NE(second.output.find("settings mode needs a desktop session"), std::string::npos);
  ::kill(spooler, SIGTERM);
  EXPECT_EQ(test::WaitForExit(spooler, std::chrono::seconds(20)), 0);
}

}  // namespace
}  // namespace pv
