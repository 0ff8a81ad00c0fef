#include "settings/setting_cipher.h"

#include <gtest/gtest.h>

#include <random>

#include "settings/ini_store.h"
#include "support/base64.h"
#include "support/text.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

// A text of random characters, weighted towards those that trouble INI files.
std::string RandomText(std::mt19937& rng) {
  static constexpr char32_t kTricky[] = {' ', '\t', '"', '\'', '=', ';', '#', '[', ']',
                                         '\r', '\n', 0, 0xA0, 0xFEFF};
  std::uniform_int_distribution<int> length(0, 40);
  std::uniform_int_distribution<int> kind(0, 4);
  std::string text;
  for (int i = length(rng); i > 0; --i) {
    char32_t cp = 0;
    switch (kind(rng)) {
      case 0: cp = kTricky[rng() % std::size(kTricky)]; break;
      case 1: cp = 0x20 + rng() % 0x5F; break;             // ASCII
      case 2: cp = 0x80 + rng() % 0x780; break;            // two-byte forms
      case 3: cp = 0x800 + rng() % (0xD800 - 0x800); break;  // below the surrogates
      default: cp = 0x10000 + rng() % 0xF0000; break;      // beyond the BMP
    }
    AppendCodePoint(text, cp);
  }
  return text;
}

bool IsIniSafe(const std::string& stored) {
  return stored.find_first_not_of(
             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
         std::string::npos;
}

TEST(SettingCipherTest, RoundTripsRandomTexts) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 2000; ++i) {
    const std::string value = RandomText(rng);
    const std::string stored = EncipherSetting(value, kProxyPasswordCipherKey);
    ASSERT_TRUE(IsIniSafe(stored)) << stored;
    ASSERT_EQ(DecipherSetting(stored, kProxyPasswordCipherKey), value);
    if (!value.empty()) {
      ASSERT_NE(stored, Base64Encode(value));  // not merely encoded
    }
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
