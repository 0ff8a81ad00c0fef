#include "settings/setting_cipher.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <string>

#include "settings/ini_store.h"
#include "support/base64.h"

namespace pv {
namespace {

using Block = std::array<unsigned char, 32>;

// Block number `index` of the keystream: SHA-256 (cipher key, index as 4 bytes big-endian).
Block KeystreamBlock(std::string_view cipherKey, std::uint32_t index) {
  std::string input(cipherKey);
  for (int shift = 24; shift >= 0; shift -= 8) {
    input.push_back(static_cast<char>((index >> shift) & 0xFF));
  }
  Block block{};
  unsigned int length = 0;
  if (EVP_Digest(input.data(), input.size(), block.data(), &length, EVP_sha256(), nullptr) != 1) {
    block.fill(0);  // not reached with a working libcrypto; both directions stay symmetric
  }
  return block;
}

std::string ApplyKeystream(std::string_view bytes, std::string_view cipherKey) {
  std::string out(bytes);
  Block block{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i % block.size() == 0) {
      block = KeystreamBlock(cipherKey, static_cast<std::uint32_t>(i / block.size()));
    }
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ block[i % block.size()]);
  }
  return out;
}

}  // namespace

std::string EncipherSetting(std::string_view value, std::string_view cipherKey) {
  return Base64Encode(ApplyKeystream(value, cipherKey));
}

std::optional<std::string> DecipherSetting(std::string_view stored, std::string_view cipherKey) {
  Bytes bytes;
  if (!Base64Decode(stored, bytes)) return std::nullopt;
  return ApplyKeystream(bytes, cipherKey);
}

std::string INIReadUnicodeStringCrypted(const std::string& file, std::string_view section,
                                        std::string_view key, std::string_view defaultValue,
                                        std::string_view cipherKey) {
  // A missing key reads as the enciphered default, which deciphers to the default itself.
  const std::string stored =
      ReadSettingString(file, section, key, EncipherSetting(defaultValue, cipherKey));
  return DecipherSetting(stored, cipherKey).value_or(std::string(defaultValue));
}

bool INIWriteUnicodeStringCrypted(const std::string& file, std::string_view section,
                                  std::string_view key, std::string_view value,
                                  std::string_view cipherKey) {
  const std::string stored = EncipherSetting(value, cipherKey);
  if (stored.size() > kSettingReadLimit) return false;
  return WriteSettingString(file, section, key, stored);
}

}  // namespace pv
