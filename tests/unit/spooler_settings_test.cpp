#include "settings/spooler_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "settings/ini_store.h"
#include "settings/setting_cipher.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

class SpoolerSettingsTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }

  SpoolerSettings Load(bool expectedResult = true) {
    SpoolerSettings settings;
    EXPECT_EQ(LoadSettings(file_, defaults_, settings), expectedResult);
    return settings;
  }

  test::ScopedEnv allProxy_{"ALL_PROXY", nullptr};
  test::ScopedEnv allProxyLower_{"all_proxy", nullptr};
  test::TempDir dir_;
  std::string file_ = dir_ / "pvx.start";
  SettingsDefaults defaults_{"10.0.0.1,10.0.0.2", "host.example", "me@example.org",
                             dir_.path(), ""};
};

TEST_F(SpoolerSettingsTest, MissingFileGivesDefaultsAndCreatesFile) {
  const std::string spoolDir = dir_.path() + "/";
  const std::string described = DescribeSettings(Load());
  // The defaults that come from the system, and those the spool run depends on.
  const std::vector<std::string> lines = {
      "UpDelay = 60", "LogFileDir = " + spoolDir, "SpoolFilePattern = " + spoolDir + "*.eml",
      "SenderHostName = host.example", "EffectiveDNSServers = 10.0.0.1,10.0.0.2",
      "DefaultReturnTo = me@example.org", "RetryInterval = 10,10,10,60,120,240,480,720,1440",
      "MaxRetryCount = 9", "WriteErrorNTEventLog = true"};
  for (const std::string& line : lines) {
    EXPECT_NE(described.find(line + "\n"), std::string::npos) << line << "\n" << described;
  }
  EXPECT_EQ(ReadSettingString(file_, "Settings", "DefaultSpoolDir", "missing"), spoolDir);
  struct stat st {};
  ASSERT_EQ(::stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SpoolerSettingsTest, SpoolDirectory) {
  struct Case { const char* file; const char* pattern; const char* logDir; };
  const std::string program = dir_.path() + "/";
  const Case cases[] = {
      {"[Settings]\nDefaultSpoolDir=\n", "", ""},  // empty: replaced like a missing one
      {"[settings]\ndefaultspooldir=/var/spool/pv\nDefaultExtension=msg\n",
       "/var/spool/pv/*.msg", "/var/spool/pv"},
      {"[Settings]\nDefaultSpoolDir=/s/\n[Spooler]\nLogFileDir=/log\n", "/s/*.eml", "/log"},
  };
  for (const Case& c : cases) {
    Write(c.file);
    const SpoolerSettings s = Load();
    const std::string pattern = *c.pattern ? c.pattern : program + "*.eml";
    EXPECT_EQ(s.SpoolFilePattern, pattern) << c.file;
    EXPECT_EQ(s.LogFileDir, *c.logDir ? c.logDir : program) << c.file;
  }
  EXPECT_EQ(ReadSettingString(file_, "Settings", "DefaultSpoolDir", ""), "/s/");
}

TEST_F(SpoolerSettingsTest, LogDirectoryDefaultYieldsToTheFile) {
  defaults_.LogDirectory = "/var/log/pv/";
  const std::pair<const char*, const char*> cases[] = {
      {"[Settings]\nDefaultSpoolDir=/s/\n", "/var/log/pv/"},
      {"[Settings]\nDefaultSpoolDir=/s/\n[Spooler]\nLogFileDir=/log\n", "/log"},
  };
  for (const auto& [file, logDir] : cases) {
    Write(file);
    EXPECT_EQ(Load().LogFileDir, logDir) << file;
  }
}

TEST_F(SpoolerSettingsTest, FailedWriteBackStillLoadsTheRest) {
  file_ = dir_ / "no/such/dir/pvx.start";
  const SpoolerSettings s = Load(false);
  EXPECT_EQ(s.UpDelay, 60);
  EXPECT_EQ(s.MaxRetryCount, 9);
  EXPECT_EQ(s.SpoolFilePattern, dir_.path() + "/*.eml");

  file_.clear();  // no file at all: defaults, and the write-back fails
  EXPECT_EQ(Load(false).DefaultExtension, "eml");
}

TEST_F(SpoolerSettingsTest, ValuesAsStored) {
  struct Case { const char* value; std::int32_t upDelay; bool online; ProxyTypeCode proxy; };
  const Case cases[] = {
      {"", 0, false, ProxyNone},
      {"WAHR", 0, true, ProxyNone},
      {"-1", -1, true, ProxyNone},
      {"SOCKS5AUTH", 0, false, ProxySocks5Auth},
      {"socks4", 0, false, ProxySocks4},
      {"socks5", 0, false, ProxyNone},
  };
  for (const Case& c : cases) {
    Write(std::string("[Spooler]\nUpDelay=") + c.value + "\nOnlyIfOnline=" + c.value +
          "\nProxyType=" + c.value + "\n[Settings]\nDefaultSpoolDir=/s/\n");
    const SpoolerSettings s = Load();
    EXPECT_EQ(s.UpDelay, c.upDelay) << c.value;
    EXPECT_EQ(s.OnlyIfOnline, c.online) << c.value;
    EXPECT_EQ(s.ProxyType, c.proxy) << c.value;
  }
}

TEST_F(SpoolerSettingsTest, DnsServers) {
  const std::pair<const char*, const char*> cases[] = {
      {"<system>", "10.0.0.1,10.0.0.2"},
      {"1.1.1.1,9.9.9.9", "1.1.1.1,9.9.9.9"},
      {"", ""},
  };
  for (const auto& [stored, effective] : cases) {
    Write(std::string("[Settings]\nDefaultSpoolDir=/s/\nDNSServer=") + stored + "\n");
    EXPECT_EQ(Load().EffectiveDNSServers, effective) << stored;
  }
}

TEST_F(SpoolerSettingsTest, PasswordsAreDecipheredAndNeverDescribed) {
  const std::string password = "s3cr\xC3\xA9t = \"x\"";
  for (const char* key : {"ProxyPassword", "RelayPassword"}) {
    ASSERT_TRUE(INIWriteUnicodeStringCrypted(file_, "Spooler", key, password,
                                             kProxyPasswordCipherKey));
  }
  ASSERT_TRUE(WriteSettingString(file_, "Spooler", "RelayUser", "bob"));
  const std::vector<std::pair<std::string, RelaySecurityMode>> modes = {
      {"STARTTLS", RelaySecurityMode::StartTls}, {"ssl", RelaySecurityMode::Auto}};

  for (const auto& [text, mode] : modes) {
    ASSERT_TRUE(WriteSettingString(file_, "Spooler", "RelaySecurity", text));
    const SpoolerSettings s = Load();
    EXPECT_EQ(s.RelaySecurity, mode) << text;
    EXPECT_EQ(s.RelayUser, "bob");
    EXPECT_EQ(s.ProxyPassword, password);
    EXPECT_EQ(s.RelayPassword, password);
    const std::string described = DescribeSettings(s);
    EXPECT_EQ(described.find("s3cr"), std::string::npos);
    EXPECT_NE(described.find("ProxyPassword = ********\nProxyServer"), std::string::npos);
  }
}

}  // namespace
}  // namespace pv
