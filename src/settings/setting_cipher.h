#pragma once
// Settings kept enciphered in the settings file (the proxy password).
//
// The value's UTF-8 bytes are combined (XOR) with a keystream drawn from SHA-256 of the
// cipher key and a block counter, and stored as base64: one line of letters, digits, "+", "/"
// and "=", safe in an INI file, from which the exact value comes back. An empty value is
// stored as "". This hides the password from a casual look at the file; it is no protection
// against anyone who has the program (the key is a constant of it).
#include <optional>
#include <string>
#include <string_view>

namespace pv {

inline constexpr std::string_view kProxyPasswordCipherKey = "k4vw81qz7pm2tr63xeh";

// Pure cipher. DecipherSetting gives nullopt for a text that is not base64.
std::string EncipherSetting(std::string_view value, std::string_view cipherKey);
std::optional<std::string> DecipherSetting(std::string_view stored, std::string_view cipherKey);

// The deciphered value of the key; the default when the key is missing or its text cannot be
// deciphered.
std::string INIReadUnicodeStringCrypted(const std::string& file, std::string_view section,
                                        std::string_view key, std::string_view defaultValue,
                                        std::string_view cipherKey);
// Enciphers value and writes it (see WriteSettingString). False when the write fails or the
// enciphered text would be longer than a read returns.
bool INIWriteUnicodeStringCrypted(const std::string& file, std::string_view section,
                                  std::string_view key, std::string_view value,
                                  std::string_view cipherKey);

}  // namespace pv
