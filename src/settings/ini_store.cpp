#include "settings/ini_store.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "settings/ini_document.h"
#include "support/codepage.h"
#include "support/durable_write.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr mode_t kSettingsFileMode = 0600;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// File bytes as text: the byte-order mark skipped, lines that are not UTF-8 read as code page
// 1252.
std::string TextFromFileBytes(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Mark)) bytes.remove_prefix(kUtf8Mark.size());
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    end = end == std::string_view::npos ? bytes.size() : end + 1;
    const std::string_view line = bytes.substr(start, end - start);
    text += IsValidUtf8(line) ? std::string(line) : DecodeCodePage(line, kCodePage1252);
    start = end;
  }
  return text;
}

// The file as it is on disk. `present` is false for a missing file; the result is false when
// the file is there but could not be read.
struct LoadedFile {
  bool readable = true;
  bool present = false;
  std::string bytes;
  IniDocument document;
};

LoadedFile LoadSettingsDocument(const std::string& file) {
  LoadedFile loaded;
  const IoError error = ReadWholeFile(file, loaded.bytes);
  if (error) {
    loaded.readable = error.number == kErrFileNotFound || error.number == kErrPathNotFound;
    loaded.bytes.clear();
    return loaded;
  }
  loaded.present = true;
  loaded.document = IniDocument::Parse(TextFromFileBytes(loaded.bytes));
  return loaded;
}

bool SaveSettingsText(const std::string& file, const std::string& text) {
  DurableWriteOptions options;
  options.newFileMode = kSettingsFileMode;
  return !WriteFileDurably(file, text, options);
}

// Loads the file, applies the edit and writes the result back when it changed anything.
template <typename Edit>
bool EditSettingsFile(const std::string& file, Edit&& edit) {
  if (file.empty()) return false;
  LoadedFile loaded = LoadSettingsDocument(file);
  if (!loaded.readable || !edit(loaded.document)) return false;
  const std::string text = loaded.document.Serialize();
  if (loaded.present ? text == loaded.bytes : loaded.document.Empty()) return true;
  return SaveSettingsText(file, text);
}

IniDocument ReadDocument(const std::string& file) {
  if (file.empty()) return {};
  return LoadSettingsDocument(file).document;
}

bool IsSystemIni(const std::string& path) {
  return EqualsNoCase(FileNamePart(path), "system.ini");
}

}  // namespace

std::string CutToReadLimit(std::string_view text) {
  std::size_t pos = 0;
  for (std::size_t count = 0; pos < text.size() && count < kSettingReadLimit; ++count) {
    pos += CharLengthAt(text, pos);
  }
  return std::string(text.substr(0, pos));
}

std::int32_t SettingTextToLong(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return 0;
  const std::size_t start = i;
  if (text[i] == '+' || text[i] == '-') ++i;
  const auto skipDigits = [&](std::size_t from) {
    while (from < text.size() && text[from] >= '0' && text[from] <= '9') ++from;
    return from;
  };
  std::size_t end = skipDigits(i);
  std::size_t digits = end - i;
  if (end < text.size() && text[end] == '.') {
    const std::size_t fractionEnd = skipDigits(end + 1);
    digits += fractionEnd - end - 1;
    end = fractionEnd;
  }
  if (digits == 0) return 0;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    std::size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    const std::size_t exponentEnd = skipDigits(exponent);
    if (exponentEnd > exponent) end = exponentEnd;
  }
  std::string number(text.substr(start, end - start));
  if (number.front() == '+') number.erase(0, 1);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) return 0;
  const double rounded = std::nearbyint(value);  // the default rounding mode: halves to even
  if (rounded < std::numeric_limits<std::int32_t>::min() ||
      rounded > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(rounded);
}

bool SettingTextToBool(std::string_view text) {
  const std::string lower = ToLowerAscii(text);
  return lower == "wahr" || lower == "true" || lower == "1" || lower == "-1";
}

std::string ReadSettingString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  const std::optional<std::string> stored = ReadDocument(file).Find(section, key);
  if (!stored) return CutToReadLimit(defaultValue);
  return CutToReadLimit(StripEnclosingQuotes(*stored));
}

std::int32_t ReadSettingLong(const std::string& file, std::string_view section,
                             std::string_view key, std::int32_t defaultValue) {
  return SettingTextToLong(ReadSettingString(file, section, key, std::to_string(defaultValue)));
}

bool ReadSettingBool(const std::string& file, std::string_view section, std::string_view key,
                     bool defaultValue) {
  return SettingTextToBool(ReadSettingString(file, section, key, defaultValue ? "1" : "0"));
}

bool WriteSettingString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
  return EditSettingsFile(file,
                          [&](IniDocument& doc) { return doc.Set(section, key, value); });
}

bool WriteSettingLong(const std::string& file, std::string_view section, std::string_view key,
                      std::int32_t value) {
  return WriteSettingString(file, section, key, std::to_string(value));
}

bool WriteSettingBool(const std::string& file, std::string_view section, std::string_view key,
                      bool value) {
  return WriteSettingString(file, section, key, value ? "1" : "0");
}

bool DeleteSettingsSection(const std::string& file, std::string_view section) {
  return EditSettingsFile(file, [&](IniDocument& doc) {
    doc.RemoveSection(section);
    return true;
  });
}

int GetSettingsSectionNames(const std::string& file, std::vector<std::string>& names) {
  names = ReadDocument(file).SectionNames();
  return static_cast<int>(names.size());
}

std::vector<std::string> ReadSettingsSection(const std::string& file, std::string_view section) {
  return ReadDocument(file).SectionLines(section).value_or(std::vector<std::string>{});
}

bool WriteSettingsSection(const std::string& file, std::string_view section,
                          const std::vector<std::string>& lines) {
  return EditSettingsFile(file,
                          [&](IniDocument& doc) { return doc.ReplaceSection(section, lines); });
}

bool ClearSettingsFile(const std::string& file) {
  if (file.empty() || IsSystemIni(file) || !FileExists(file)) return false;
  return DeleteFileIfExists(file);
}

bool CopySettingsFile(const std::string& source, const std::string& destination) {
  if (source.empty() || destination.empty()) return false;
  if (IsSystemIni(source) || IsSystemIni(destination)) return false;
  const LoadedFile loaded = LoadSettingsDocument(source);
  if (!loaded.present) return false;
  IniDocument copy;
  for (const std::string& name : loaded.document.SectionNames()) {
    const std::vector<std::string> lines = *loaded.document.SectionLines(name);
    if (!lines.empty() && !copy.ReplaceSection(name, lines)) return false;
  }
  if (copy.Empty()) {
    ClearSettingsFile(destination);
    return !FileExists(destination);
  }
  return SaveSettingsText(destination, copy.Serialize());
}

}  // namespace pv
