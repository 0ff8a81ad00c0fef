#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <map>

#include "settings/setting_cipher.h"
#include "settings/setting_keys.h"
#include "settings/settings_listing.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

class FakeProbe : public SettingsProbe {
 public:
  std::string DirectoryProblem(const std::string& directory) override {
    const auto found = problems.find(directory);
    return found == problems.end() ? "" : found->second;
  }
  std::string SystemLogProblem() override { return systemLog; }

  std::map<std::string, std::string> problems{{"/missing/", "does not exist"}};
  std::string systemLog;
};

std::vector<SettingFinding> Check(const std::string& text, FakeProbe probe = {}) {
  return CheckSettings(IniDocument::Parse(text), probe, "/var/spool/postvane/");
}

std::string Texts(const std::vector<SettingFinding>& findings) {
  std::string all;
  for (const SettingFinding& f : findings) all += f.text + "\n";
  return all;
}

TEST(SettingsCheck, TellsEachKindOfFindingOnce) {
  const std::string notText = EncipherSetting("a\x01z", kProxyPasswordCipherKey);
  const struct {
    std::string file, finding;
  } cases[] = {
      {"[Spooler]\nRealyHostName=x\n", "unknown key in [Spooler]; did you mean RelayHostName?"},
      {"[Spooler]\nDNSServer=192.0.2.1\n", "it belongs in [Settings]"},
      {"[Spooer]\nUpDelay=60\n", "[Spooer]: unknown section; did you mean [Spooler]?"},
      {"[Spooler]\nUpDelay=60\nupdelay=70\n", "updelay: given twice in [Spooler]; the first"},
      {"[Spooler]\nUpDelay=60\n[Settings]\n[spooler]\nMaxRetryCount=3\n", "given 2 times"},
      {"[Spooler]\njunk\n", "the line \"junk\" is no key=value"},
      {"[Spooler]\nUpDelay=sixty\n", "UpDelay=sixty: is not a whole number; it reads as 0"},
      {"[Spooler]\nUpDelay=99999999999\n", "outside the 32-bit range; it reads as 0"},
      {"[Spooler]\nOnlyIfOnline=yes\n", "OnlyIfOnline=yes: is not a boolean; it reads as false"},
      {"[Spooler]\nRelaySecurity=startls\n", "a TLS downgrade"},
      {"[Spooler]\nProxyType=socks5\n", "reads as None (no proxy); write SOCKS5NOAUTH or"},
      {"[Settings]\nDNSServer=192.0.2.1,dns.example\n", "\"dns.example\", which is not an IP"},
      {"[Spooler]\nRetryInterval=10,1h\n", "holds \"1h\", which is not a number of minutes"},
      {"[Spooler]\nRelayPassword=not*base64\n", "RelayPassword: is not an enciphered value"},
      {"[Spooler]\nProxyPassword=" + notText + "\n", "ProxyPassword: does not decipher to text"},
      {"[Spooler]\nLogFileDir=logs/\n", "LogFileDir=logs/: is not an absolute path"},
      {"[Settings]\nDefaultSpoolDir=/missing/\n", "the directory /missing/ does not exist"},
  };
  for (const auto& c : cases) {
    const std::vector<SettingFinding> findings = Check(c.file);
    ASSERT_EQ(findings.size(), 1u) << c.file << Texts(findings);
    EXPECT_NE((findings[0].text + "\n").find(c.finding), std::string::npos)
        << c.file << findings[0].text;
    EXPECT_EQ(findings[0].text.find("not*base64"), std::string::npos) << "a secret is shown";
  }
}

TEST(SettingsCheck, ValidSettingsGiveNoFindings) {
  const std::string files[] = {
      "",
      "; a comment\n[Settings]\nDefaultSpoolDir=/var/spool/postvane/\nDefaultExtension=eml\n"
      "DNSServer=<system>\nDefaultReturnTo=\n[Spooler]\nUpDelay=-5\nLogFileDir=\"/tmp/\"\n"
      "OnlyIfOnline=WAHR\nWriteErrorCSVLog=-1\nShowErrorBallons=false\nProxyType=NoProxy\n"
      "RelayHostName=[2001:db8::1]:587\nProxyServer=proxy.example:1080\nRelaySecurity= TLS\n"
      "RetryInterval=0, 5 ,60\nMaxRetryCount=+3\nRelayPassword=" +
          EncipherSetting("p\xC3\xA4ss w\xC3\xB6rd", kProxyPasswordCipherKey) +
          "\nProxyPassword=\nLocalRecipientsTo=admin@example.org\nTestAddress=t@example.org\n",
      "[Settings]\nDNSServer=127.0.0.1:5353, [::1]:53,,2001:db8::53\nDefaultSpoolDir=\n"
      "[Spooler]\nProxyType=\n",
      // The system log socket is only looked for while entries go there.
      "[Spooler]\nWriteErrorNTEventLog=0\n",
  };
  FakeProbe noSystemLog;
  noSystemLog.systemLog = "no socket at /dev/log";
  for (const std::string& file : files) {
    EXPECT_EQ(Texts(Check(file)), "") << file;
    if (file.find("WriteErrorNTEventLog=0") != std::string::npos) {
      EXPECT_EQ(Texts(Check(file, noSystemLog)), "") << file;
    }
  }
  EXPECT_EQ(Texts(Check("", noSystemLog)), "the system log: no socket at /dev/log\n");
}

TEST(SettingKeys, EveryKeyIsInTheConfigurationGuide) {
  const std::string guide = test::ReadFile(POSTVANE_SOURCE_DIR "/docs/configuration.md");
  ASSERT_FALSE(guide.empty());
  for (const SettingKey& key : SettingKeys())
    EXPECT_NE(guide.find("| " + std::string(key.section) + " | `" + std::string(key.name) + "` |"),
              std::string::npos)
        << key.section << "/" << key.name;
}

TEST(SettingsListing, MasksSecretsAndTellsWhereEachValueComesFrom) {
  const std::string enciphered = EncipherSetting("hunter2", kProxyPasswordCipherKey);
  const IniDocument document = IniDocument::Parse(
      "[Settings]\nDefaultSpoolDir=/s/\n[Spooler]\nUpDelay=90\nRelayPassword=" + enciphered +
      "\nProxyPassword=\n");
  ListingDefaults defaults;
  defaults.startup.DefaultSenderHostName = "host.example";
  defaults.startup.ProgramDirectory = "/p";
  const std::vector<ListedSetting> listed = ListSettings(document, defaults);
  const auto find = [&](std::string_view section, std::string_view key) {
    for (const ListedSetting& s : listed)
      if (s.section == section && s.key == key) return s;
    return ListedSetting{};
  };
  const struct {
    std::string section, key, value, defaultValue;
    SettingOrigin origin;
  } cases[] = {
      {"Spooler", "UpDelay", "90", "60", SettingOrigin::File},
      {"Spooler", "MaxRetryCount", "9", "9", SettingOrigin::Default},
      {"Spooler", "RelayPassword", "********", "(not set)", SettingOrigin::File},
      {"Spooler", "SenderHostName", "host.example", "host.example", SettingOrigin::StartupValue},
      {"Settings", "DefaultSpoolDir", "/s/", "/p/", SettingOrigin::File},
  };
  for (const auto& c : cases) {
    const ListedSetting s = find(c.section, c.key);
    EXPECT_EQ(s.value, c.value) << c.key;
    EXPECT_EQ(s.defaultValue, c.defaultValue) << c.key;
    EXPECT_EQ(s.origin, c.origin) << c.key;
  }
  EXPECT_EQ(listed.size(), SettingKeys().size());
  const std::string shown = FormatSettingsListing(listed);
  EXPECT_EQ(shown.find(enciphered), std::string::npos) << shown;
  EXPECT_EQ(shown.find("hunter2"), std::string::npos) << shown;
}

}  // namespace
}  // namespace pv
