#include "support/base64.h"

#include <openssl/evp.h>

namespace pv {
namespace {

// OpenSSL takes int lengths; larger inputs go through in chunks of whole groups.
constexpr std::size_t kEncodeChunk = 3 * 1024 * 1024;  // bytes, a multiple of 3
constexpr std::size_t kDecodeChunk = 4 * 1024 * 1024;  // characters, a multiple of 4

const unsigned char* AsUnsigned(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
unsigned char* AsUnsigned(char* p) { return reinterpret_cast<unsigned char*>(p); }

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

bool IsIgnoredSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text without ignored spaces and padded to whole groups of four; false when the text is
// not well-formed Base64. `padding` counts the "=" at the end.
bool NormalizeBase64(std::string_view text, std::string& digits, std::size_t& padding) {
  digits.clear();
  padding = 0;
  for (char c : text) {
    if (IsIgnoredSpace(c)) continue;
    if (c == '=') {
      ++padding;
    } else if (IsBase64Digit(c) && padding == 0) {
      digits += c;
    } else {
      return false;
    }
  }
  const std::size_t tail = digits.size() % 4;
  if (tail == 1 || padding > 2) return false;
  if (padding != 0 && tail + padding != 4) return false;
  padding = tail == 0 ? 0 : 4 - tail;
  digits.append(padding, '=');
  return true;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t pos = 0; pos < bytes.size(); pos += kEncodeChunk) {
    const std::string_view chunk = bytes.substr(pos, kEncodeChunk);
    std::string encoded((chunk.size() + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(AsUnsigned(encoded.data()), AsUnsigned(chunk.data()),
                                       static_cast<int>(chunk.size()));
    encoded.resize(static_cast<std::size_t>(length));
    out += encoded;
  }
  return out;
}

bool Base64Decode(std::string_view text, Bytes& out) {
  out.clear();
  std::string digits;
  std::size_t padding = 0;
  if (!NormalizeBase64(text, digits, padding)) return false;
  for (std::size_t pos = 0; pos < digits.size(); pos += kDecodeChunk) {
    const std::string_view chunk = std::string_view(digits).substr(pos, kDecodeChunk);
    Bytes decoded(chunk.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(AsUnsigned(decoded.data()), AsUnsigned(chunk.data()),
                                       static_cast<int>(chunk.size()));
    if (length < 0) {
      out.clear();
      return false;
    }
    decoded.resize(static_cast<std::size_t>(length));
    out += decoded;
  }
  // EVP_DecodeBlock turns the padding into zero bytes; they are not part of the data.
  out.resize(out.size() - padding);
  return true;
}

}  // namespace pv
