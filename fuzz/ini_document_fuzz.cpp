// The INI document: any text is read, and a key that was written always reads back, also after
// the document went through its text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "settings/ini_document.h"

namespace {

// The blanks that the document trims around names and values.
constexpr std::string_view kBlanks = " \t\v\f\r";

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(kBlanks) - first + 1));
}

// A CR just before a CR LF or at the end of the text.
bool HasBareCrAtLineEnd(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    const std::string_view rest = text.substr(i + 1);
    if (rest.empty() || rest.starts_with("\r\n")) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(24);
  const std::string key = input.ConsumeRandomLengthString(24);
  const std::string value = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRemainingBytesAsString();

  pv::IniDocument document = pv::IniDocument::Parse(text);
  const std::string before = document.Serialize();
  // Writing the text again changes nothing. (Not checked where a line ends in a CR of its
  // own: a CR before the line end is taken as part of the line end on the next read.)
  if (!HasBareCrAtLineEnd(text)) FUZZ_CHECK(pv::IniDocument::Parse(before).Serialize() == before);
  (void)document.SectionNames();

  const bool storable = pv::IniDocument::IsStorableSectionName(section) &&
                        pv::IniDocument::IsStorableKey(key) &&
                        pv::IniDocument::IsStorableValue(value);
  const bool set = document.Set(section, key, value);
  if (!set) {
    FUZZ_CHECK(document.Serialize() == before);
    return 0;
  }
  FUZZ_CHECK(storable);
  const std::optional<std::string> read = document.Find(section, key);
  FUZZ_CHECK(read && *read == Trimmed(value));
  const pv::IniDocument again = pv::IniDocument::Parse(document.Serialize());
  const std::optional<std::string> reread = again.Find(section, key);
  FUZZ_CHECK(reread && *reread == Trimmed(value));
  return 0;
}
