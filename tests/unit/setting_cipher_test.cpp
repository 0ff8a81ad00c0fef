#include "settings/setting_cipher.h"

#include <gtest/gtest.h>

#include "support/base64.h"

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

// Through the settings file: spooler_settings_test.cpp and settings_commands_test.cpp.

}  // namespace
}  // namespace pv
