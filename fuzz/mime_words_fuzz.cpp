// MIME encoded words: decoding any header value, and encoding text that decodes back to itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "support/mime_words.h"

namespace {

// Well-formed UTF-8 (no overlong forms, no surrogates) without control characters: text that
// encoded words in UTF-8 carry unchanged. Decoding drops CR, LF and tabs, so none may be in it.
bool IsPlainUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return false;
    if (c < 0x80) { ++i; continue; }
    int more = 0;
    std::uint32_t code = 0;
    if (c >= 0xc2 && c <= 0xdf) { more = 1; code = c & 0x1f; }
    else if (c >= 0xe0 && c <= 0xef) { more = 2; code = c & 0x0f; }
    else if (c >= 0xf0 && c <= 0xf4) { more = 3; code = c & 0x07; }
    else return false;
    if (i + static_cast<std::size_t>(more) >= text.size()) return false;
    for (int k = 1; k <= more; ++k) {
      const auto d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((d & 0xc0) != 0x80) return false;
      code = (code << 6) | (d & 0x3f);
    }
    if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10ffff)) ||
        (code >= 0xd800 && code <= 0xdfff) || (code >= 0x80 && code < 0xa0))
      return false;
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool base64 = input.ConsumeBool();
  const std::string text = input.ConsumeRemainingBytesAsString();

  (void)pv::DecodeEncodedWords(text);
  (void)pv::DecodeQuotedPrintable(text);
  pv::EncodedWordMatch match;
  if (!pv::FindEncodedWord(text, match)) FUZZ_CHECK(match.before + match.after == text);

  if (IsPlainUtf8(text)) {
    const std::string encoded = pv::EncodeHeaderValue("UTF-8", text, base64 ? "B" : "Q");
    FUZZ_CHECK(pv::DecodeEncodedWords(encoded) == text);
    // Every word fits the limit of 75 characters.
    if (encoded != text) {
      std::size_t start = 0;
      for (;;) {
        const std::size_t end = encoded.find("\r\n\t", start);
        FUZZ_CHECK((end == std::string::npos ? encoded.size() : end) - start <= 75);
        if (end == std::string::npos) break;
        start = end + 3;
      }
    }
  }
  return 0;
}
