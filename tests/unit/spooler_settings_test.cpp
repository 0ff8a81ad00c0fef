#include "settings/spooler_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>

#include "settings/ini_store.h"
#include "settings/setting_cipher.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// Sets or unsets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1); else ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class SpoolerSettingsTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }

  SpoolerSettings Load(bool expectedResult = true) {
    SpoolerSettings settings;
    EXPECT_EQ(LoadSettings(file_, defaults_, settings), expectedResult);
    return settings;
  }

  ScopedEnv allProxy_{"ALL_PROXY", nullptr};
  ScopedEnv allProxyLower_{"all_proxy", nullptr};
  test::TempDir dir_;
  std::string file_ = dir_ / "pvx.start";
  SettingsDefaults defaults_{"10.0.0.1,10.0.0.2", "host.example", "me@example.org",
                             dir_.path()};
};

TEST_F(SpoolerSettingsTest, MissingFileGivesDefaultsAndCreatesFile) {
  const std::string spoolDir = dir_.path() + "/";
  EXPECT_EQ(DescribeSettings(Load()),
            "UpDelay = 60\n"
            "LogFileName = PVX-year$-month$-day$.csv\n"
            "LogFileDir = " + spoolDir + "\n"
            "OnlyIfOnline = false\n"
            "DefaultExtension = eml\n"
            "SpoolFilePattern = " + spoolDir + "*.eml\n"
            "SenderHostName = host.example\n"
            "RelayHostName = \n"
            "WriteSuccessCSVLog = true\n"
            "WriteErrorCSVLog = true\n"
            "WriteSuccessNTEventLog = false\n"
            "WriteErrorNTEventLog = true\n"
            "ShowErrorBallons = true\n"
            "ShowSuccessBallons = true\n"
            "ProxyType = 0 (NONE)\n"
            "ProxyPassword = \n"
            "ProxyServer = \n"
            "ProxyUser = \n"
            "EffectiveDNSServers = 10.0.0.1,10.0.0.2\n"
            "DefaultReturnTo = me@example.org\n"
            "RetryInterval = 10,10,10,60,120,240,480,720,1440\n"
            "MaxRetryCount = 9\n"
            "RelayUser = \n"
            "RelayPassword = \n"
            "RelaySecurity = auto\n");
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
      {"90", 90, false, ProxyNone},
      {"abc", 0, false, ProxyNone},
      {"WAHR", 0, true, ProxyNone},
      {"True", 0, true, ProxyNone},
      {"-1", -1, true, ProxyNone},
      {"1", 1, true, ProxyNone},
      {"yes", 0, false, ProxyNone},
      {"SOCKS5AUTH", 0, false, ProxySocks5Auth},
      {"Socks5NoAuth", 0, false, ProxySocks5NoAuth},
      {"socks4", 0, false, ProxySocks4},
      {"socks5", 0, false, ProxyNone},
      {"NoProxy", 0, false, ProxyNone},
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
      {"<SYSTEM>", "10.0.0.1,10.0.0.2"},
      {"1.1.1.1,9.9.9.9", "1.1.1.1,9.9.9.9"},
      {"", ""},
  };
  for (const auto& [stored, effective] : cases) {
    Write(std::string("[Settings]\nDefaultSpoolDir=/s/\nDNSServer=") + stored + "\n");
    EXPECT_EQ(Load().EffectiveDNSServers, effective) << stored;
  }
}

TEST_F(SpoolerSettingsTest, ProxyServerDefaultsToSystemSocksProxy) {
  ScopedEnv proxy("ALL_PROXY", "socks5h://u:p@proxy.local:1080");
  Write("[Settings]\nDefaultSpoolDir=/s/\n");
  EXPECT_EQ(Load().ProxyServer, "proxy.local:1080");
  Write("[Settings]\nDefaultSpoolDir=/s/\n[Spooler]\nProxyServer=mine:9050\n");
  EXPECT_EQ(Load().ProxyServer, "mine:9050");
}

TEST_F(SpoolerSettingsTest, PasswordIsDecipheredAndNeverDescribed) {
  const std::string password = "s3cr\xC3\xA9t = \"x\"";
  ASSERT_TRUE(INIWriteUnicodeStringCrypted(file_, "Spooler", "ProxyPassword", password,
                                           kProxyPasswordCipherKey));
  ASSERT_TRUE(WriteSettingString(file_, "Spooler", "ProxyUser", "alice"));
  const SpoolerSettings s = Load();
  EXPECT_EQ(s.ProxyPassword, password);
  const std::string text = DescribeSettings(s);
  EXPECT_EQ(text.find("s3cr"), std::string::npos);
  EXPECT_NE(text.find("ProxyPassword = ********\n"), std::string::npos);
  EXPECT_NE(text.find("ProxyUser = alice\n"), std::string::npos);
  EXPECT_NE(text.find("UpDelay = 60\n"), std::string::npos);
}

TEST_F(SpoolerSettingsTest, RelayLoginAndSecurity) {
  ASSERT_TRUE(INIWriteUnicodeStringCrypted(file_, "Spooler", "RelayPassword", "p\xC3\xA4ss",
                                           kProxyPasswordCipherKey));
  ASSERT_TRUE(WriteSettingString(file_, "Spooler", "RelayUser", "bob"));
  const std::vector<std::pair<std::string, RelaySecurityMode>> modes = {
      {"STARTTLS", RelaySecurityMode::StartTls}, {"tls", RelaySecurityMode::Tls},
      {"None", RelaySecurityMode::None},         {"auto", RelaySecurityMode::Auto},
      {"ssl", RelaySecurityMode::Auto},          {"", RelaySecurityMode::Auto}};
  for (const auto& [text, mode] : modes) {
    ASSERT_TRUE(WriteSettingString(file_, "Spooler", "RelaySecurity", text));
    const SpoolerSettings s = Load();
    EXPECT_EQ(s.RelaySecurity, mode) << text;
    EXPECT_EQ(s.RelayUser, "bob");
    EXPECT_EQ(s.RelayPassword, "p\xC3\xA4ss");
    EXPECT_EQ(DescribeSettings(s).find("p\xC3\xA4ss"), std::string::npos);
  }
}

}  // namespace
}  // namespace pv
