#include "settings/setting_cipher.h"

#include <gtest/gtest.h>

#include "settings/ini_store.h"
#include "support/base64.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

TEST(SettingCipherTest, RoundTripsTextsThatTroubleIniFiles) {
  const std::string values[] = {" \t\"'=;#[]", std::string("a\r\n\0b", 5),
                                "\xC2\xA0\xEF\xBB\xBF \xF0\x9F\x98\x80 \xE2\x82\xAC"};
  for (const std::string& value : values) {
    const std::string stored = EncipherSetting(value, kProxyPasswordCipherKey);
    EXPECT_EQ(stored.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos) << stored;
    EXPECT_NE(stored, Base64Encode(value));  // not merely encoded
    EXPECT_EQ(DecipherSetting(stored, kProxyPasswordCipherKey), value);
  }
}

TEST(SettingCipherTest, EmptyValueAndBadText) {
  EXPECT_EQ(EncipherSetting("", kProxyPasswordCipherKey), "");
  EXPECT_EQ(DecipherSetting("", kProxyPasswordCipherKey), "");
  EXPECT_EQ(DecipherSetting("not base64!", kProxyPasswordCipherKey), std::nullopt);
  EXPECT_NE(EncipherSetting("secret", "key-a"), EncipherSetting("secret", "key-b"));
}

TEST(SettingCipherTest, ThroughTheSettingsFile) {
  test::TempDir dir;
  const std::string file = dir / "pvx.start";
  const std::string passwords[] = {"  \"quoted\"  ", "a=b;c", ""};
  for (const std::string& password : passwords) {
    ASSERT_TRUE(INIWriteUnicodeStringCrypted(file, "Spooler", "ProxyPassword", password,
                                             kProxyPasswordCipherKey));
    EXPECT_EQ(INIReadUnicodeStringCrypted(file, "spooler", "proxypassword", "dflt",
                                          kProxyPasswordCipherKey),
              password);
  }
  EXPECT_EQ(ReadSettingString(file, "Spooler", "ProxyPassword", "x"), "");  // the last, empty one
  EXPECT_EQ(INIReadUnicodeStringCrypted(file, "Spooler", "Missing", "dflt",
                                        kProxyPasswordCipherKey),
            "dflt");
  ASSERT_TRUE(WriteSettingString(file, "Spooler", "Plain", "in clear!"));
  EXPECT_EQ(INIReadUnicodeStringCrypted(file, "Spooler", "Plain", "dflt",
                                        kProxyPasswordCipherKey),
            "dflt");
}

}  // namespace
}  // namespace pv
