#include "settings/blanked_copy.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "settings/setting_keys.h"
#include "support/durable_write.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr mode_t kCopyMode = 0600;

bool IsSecretName(std::string_view key) {
  for (const SettingKey& known : SettingKeys()) {
    if (known.type == SettingType::Secret && EqualsNoCase(known.name, key)) return true;
  }
  return false;
}

// One line without its line end: an entry of a secret key loses its value.
std::string BlankLine(std::string_view line) {
  const std::string_view content = Trim(line, " \t");
  if (content.empty() || content[0] == ';' || content[0] == '#' || content[0] == '[')
    return std::string(line);
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos || !IsSecretName(Trim(line.substr(0, equals), " \t")))
    return std::string(line);
  return std::string(line.substr(0, equals + 1));
}

std::string TempBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? RemoveTrailingSeparator(tmp) : std::string("/tmp");
}

}  // namespace

std::string BlankSecretValues(std::string_view settingsText) {
  std::string out;
  out.reserve(settingsText.size());
  std::size_t start = 0;
  while (start < settingsText.size()) {
    std::size_t end = settingsText.find('\n', start);
    const bool lastLine = end == std::string_view::npos;
    if (lastLine) end = settingsText.size();
    std::string_view line = settingsText.substr(start, end - start);
    const bool cr = line.ends_with('\r');
    if (cr) line.remove_suffix(1);
    out += BlankLine(line);
    if (cr) out += '\r';
    if (!lastLine) out += '\n';
    start = end + 1;
  }
  return out;
}

BlankedSettingsCopy::BlankedSettingsCopy(const std::string& settingsFile) {
  std::string text;
  if (const IoError error = ReadWholeFile(settingsFile, text)) {
    error_ = error.text;
    return;
  }
  std::string pattern = TempBase() + "/postvane-settings-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error_ = IoError::FromErrno(errno, pattern).text;
    return;
  }
  directory_ = pattern;
  const std::string path = AddTrailingSeparator(directory_) + FileNamePart(settingsFile);
  DurableWriteOptions options;
  options.newFileMode = kCopyMode;
  options.exactMode = true;
  if (const IoError error = WriteFileDurably(path, BlankSecretValues(text), options)) {
    error_ = error.text;
    return;
  }
  path_ = path;
}

BlankedSettingsCopy::~BlankedSettingsCopy() {
  if (directory_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

}  // namespace pv
