#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>

#include "platform/user_dirs.h"
#include "settings/ini_store.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

// Stored values carry their type in front: "sz:", "expand_sz:" or "dword:". A value written by
// hand without a type counts as a string.
constexpr std::string_view kString = "sz:";
constexpr std::string_view kExpandString = "expand_sz:";
constexpr std::string_view kDword = "dword:";
// A default no stored value can hold: tells a missing value from an empty one.
constexpr const char* kMissing = "\x01";

}  // namespace

RegistryLocations DefaultRegistryLocations() {
  const char* machine = std::getenv("POSTVANE_MACHINE_REGISTRY");
  return {ConfigHome() + "/postvane/registry.ini",
          machine != nullptr && *machine != '\0' ? machine : "/etc/postvane/registry.ini"};
}

const std::string& Registry::FileOf(RegistryRoot root) const {
  return root == RegistryRoot::CurrentUser ? locations_.currentUserFile
                                           : locations_.localMachineFile;
}

RegistryString Registry::ReadRegistryString(RegistryRoot root, const std::string& key,
                                            const std::string& valueName) const {
  const std::string& file = FileOf(root);
  if (file.empty() || !FileExists(file)) return {};
  const std::string stored = ReadSettingString(file, key, valueName, kMissing);
  if (stored == kMissing) return {};
  if (StartsWithNoCase(stored, kDword)) return {"", true};
  if (StartsWithNoCase(stored, kExpandString))
    return {ExpandEnvironment(stored.substr(kExpandString.size())), true};
  return {RemovePrefix(stored, kString), true};
}

bool Registry::WriteRaw(RegistryRoot root, const std::string& key,
                        const std::string& valueName, const std::string& stored) const {
  const std::string& file = FileOf(root);
  if (file.empty()) return false;
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(file)));
  return WriteSettingString(file, key, valueName, stored);
}

bool Registry::WriteRegistryString(RegistryRoot root, const std::string& key,
                                   const std::string& valueName, const std::string& text,
                                   bool expandable) const {
  // One line per value: a text with a line break cannot be stored.
  if (text.find_first_of("\r\n") != std::string::npos) return false;
  const std::string_view type = expandable ? kExpandString : kString;
  return WriteRaw(root, key, valueName, std::string(type) + text);
}

bool Registry::WriteRegistryDword(RegistryRoot root, const std::string& key,
                                  const std::string& valueName, std::uint32_t value) const {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", value);
  return WriteRaw(root, key, valueName, std::string(kDword) + hex);
}

}  // namespace pv
