#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/system_info.h"
#include "shell/startup.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

class FakePlatform : public StartupPlatform {
 public:
  explicit FakePlatform(const test::TempDir& dir)
      : registry_({dir / "user/registry.ini", dir / "machine/registry.ini"}), dir_(dir.path()) {}

  bool AnotherInstanceRunning() override { ++lockProbes; return otherInstance; }
  bool IsRemoteSession() override { return remote; }
  bool SystemDnsServers(std::string& servers) override {
    servers = dns;
    return dnsAvailable;
  }
  std::string DefaultMailAddress() override { return "\"Ann Lee\" <ann@example.org>"; }
  std::string LocalHostName() override { return "box.example.org"; }
  std::string ListSeparator() override { return ";"; }
  std::string ExecutablePath() override { return "/usr/bin/postvane"; }
  std::string ProgramDirectory(bool) override { return dir_ + "/data"; }
  std::string LogDirectory(bool) override { return ""; }
  std::string SettingsDirectory(bool service) override {
    return dir_ + (service ? "/etc" : "/data");
  }
  std::string SettingsFileOverride() override { return settingsOverride; }
  const Registry& registry() override { return registry_; }

  bool otherInstance = false;
  bool remote = false;
  bool dnsAvailable = true;
  std::string dns = "10.0.0.1,10.0.0.2";
  std::string settingsOverride;
  int lockProbes = 0;

 private:
  Registry registry_;
  std::string dir_;
};

struct ModeCase {
  std::string commandLine;
  bool otherInstance;
  bool remote;
  bool service;
  bool settingsMode;
};

TEST(Startup, RunModeDecision) {
  const std::vector<ModeCase> cases = {
      {"", false, false, false, false},
      {"SERVICE=1", false, false, true, false},
      {"service=1 settingsmode=1", true, true, true, false},
      {"settingsmode=1", false, false, false, true},
      {"", true, false, false, true},   // a second copy only offers the settings
      {"", false, true, false, true},   // remote session
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    FakePlatform platform(dir);
    platform.otherInstance = c.otherInstance;
    platform.remote = c.remote;
    const StartupValues v = RunStartup(c.commandLine, platform);
    EXPECT_EQ(v.IsService, c.service) << c.commandLine;
    EXPECT_EQ(v.SettingsMode, c.settingsMode) << c.commandLine;
    if (c.service) {
      EXPECT_EQ(platform.lockProbes, 0) << c.commandLine;  // a service never probes the lock
    }
  }
}

struct RecordCase {
  std::string commandLine;
  const char* userRecord;     // nullptr: none
  const char* machineRecord;  // nullptr: none
  std::string settingsFile;   // below the test directory unless absolute
  const char* userAfter;      // the records afterwards (nullptr: none)
  const char* machineAfter;
};

TEST(Startup, EachRunModeKeepsToItsOwnRecordOfTheSettingsFile) {
  const std::vector<RecordCase> cases = {
      // Nothing recorded: the default is recorded for this mode only.
      {"", nullptr, nullptr, "data/postvane.start", "data/postvane.start", nullptr},
      {"service=1", nullptr, nullptr, "etc/postvane.start", nullptr, "etc/postvane.start"},
      // A user's record (left by any earlier run of that user) never moves the service.
      {"service=1", "/home/x.start", "/srv/m.start", "/srv/m.start", "/home/x.start",
       "/srv/m.start"},
      // Desktop and command-line runs read the user's record and leave the machine's alone.
      {"", nullptr, "/srv/m.start", "data/postvane.start", "data/postvane.start", "/srv/m.start"},
      {"--deliver a.eml", "/home/x.start", "/srv/m.start", "/home/x.start", "/home/x.start",
       "/srv/m.start"},
      // A recorded empty path is used as it is.
      {"", "", nullptr, "", "", nullptr},
  };
  for (const RecordCase& c : cases) {
    test::TempDir dir;
    FakePlatform platform(dir);
    const Registry& registry = platform.registry();
    const auto full = [&dir](const std::string& path) {
      return path.empty() || path.front() == '/' ? path : dir / path;
    };
    const auto record = [&](RegistryRoot root, const char* key, const char* value) {
      if (value != nullptr) registry.WriteRegistryString(root, key, kStartFilenameValue, value, false);
    };
    const auto expect = [&](RegistryRoot root, const char* key, const char* value) {
      const RegistryString now = registry.ReadRegistryString(root, key, kStartFilenameValue);
      EXPECT_EQ(now.found, value != nullptr) << c.commandLine << " " << key;
      if (value != nullptr) {
        EXPECT_EQ(now.text, full(value)) << c.commandLine << " " << key;
      }
    };
    record(RegistryRoot::CurrentUser, kSpoolerKey, c.userRecord);
    record(RegistryRoot::LocalMachine, kEventLogKey, c.machineRecord);
    const StartupValues v = RunStartup(c.commandLine, platform);
    EXPECT_EQ(v.SettingsFile, full(c.settingsFile)) << c.commandLine;
    expect(RegistryRoot::CurrentUser, kSpoolerKey, c.userAfter);
    expect(RegistryRoot::LocalMachine, kEventLogKey, c.machineAfter);
    // The record is read back unchanged on the next start of the same mode.
    EXPECT_EQ(RunStartup(c.commandLine, platform).SettingsFile, v.SettingsFile) << c.commandLine;
  }
}

TEST(SystemInfo, PureParsers) {
  EXPECT_EQ(ParseResolvConfServers("# c\nnameserver 10.0.0.1\nnameserver  ::1 # x\n"
                                   "search a.b\nnameserverx 1.1.1.1\n nameserver 9.9.9.9\n"),
            "10.0.0.1,::1,9.9.9.9");
  EXPECT_EQ(ComposeHostName("box", "box.example.org"), "box.example.org");
  EXPECT_EQ(ComposeHostName("box.lan", "other.example"), "box.lan");
  EXPECT_EQ(FullNameFromGecos("Ann Lee,Room 1,,", "ann"), "Ann Lee");
  EXPECT_EQ(FullNameFromGecos("& Smith", "bob"), "Bob Smith");
  EXPECT_EQ(DefaultMailAddressFrom("ann@example.org", "Ann Lee"), "\"Ann Lee\" <ann@example.org>");
  EXPECT_EQ(DefaultMailAddressFrom("Ann <ann@example.org>", "X"), "Ann <ann@example.org>");
  EXPECT_EQ(ListSeparatorFor(","), ";");
}

}  // namespace
}  // namespace pv
