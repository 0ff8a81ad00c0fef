#include "settings/settings_listing.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "settings/setting_keys.h"
#include "support/paths.h"

namespace pv {
namespace {

std::optional<std::string> StoredValue(const IniDocument& document, const SettingKey& key) {
  std::optional<std::string> stored = document.Find(key.section, key.name);
  if (!stored) return std::nullopt;
  std::string value = StripEnclosingQuotes(*stored);
  if (value.empty() && key.source == SettingDefault::ProgramDirectory) return std::nullopt;
  return value;
}

// The default value of key and where it comes from; spoolDir: the spool directory as loaded.
std::pair<std::string, SettingOrigin> DefaultOf(const SettingKey& key,
                                                const ListingDefaults& defaults,
                                                const std::string& spoolDir) {
  switch (key.source) {
    case SettingDefault::Fixed: return {std::string(key.defaultText), SettingOrigin::Default};
    case SettingDefault::SenderHostName:
      return {defaults.startup.DefaultSenderHostName, SettingOrigin::StartupValue};
    case SettingDefault::ReturnAddress:
      return {defaults.startup.DefaultReturnAddress, SettingOrigin::StartupValue};
    case SettingDefault::ProgramDirectory:
      return {AddTrailingSeparator(defaults.startup.ProgramDirectory), SettingOrigin::StartupValue};
    case SettingDefault::SpoolDirectory:
      // The service's logs have a directory of their own; elsewhere they go beside the mails.
      if (!defaults.startup.LogDirectory.empty())
        return {defaults.startup.LogDirectory, SettingOrigin::StartupValue};
      return {spoolDir, SettingOrigin::Default};
    case SettingDefault::SystemSocksProxy:
      return {defaults.systemSocksProxy, SettingOrigin::StartupValue};
  }
  return {"", SettingOrigin::Default};
}

}  // namespace

std::vector<ListedSetting> ListSettings(const IniDocument& document,
                                        const ListingDefaults& defaults) {
  const SettingKey* spoolKey = FindSettingKey(kSettingsSection, "DefaultSpoolDir");
  const std::string spoolDir = StoredValue(document, *spoolKey)
                                   .value_or(DefaultOf(*spoolKey, defaults, "").first);
  std::vector<ListedSetting> out;
  for (const SettingKey& key : SettingKeys()) {
    ListedSetting entry{std::string(key.section), std::string(key.name), "", "",
                        SettingOrigin::File};
    const std::optional<std::string> stored = StoredValue(document, key);
    const auto [defaultValue, origin] = DefaultOf(key, defaults, spoolDir);
    if (key.type == SettingType::Secret) {
      entry.value = stored && !stored->empty() ? kMaskedSecret : kSecretNotSet;
      entry.defaultValue = kSecretNotSet;
    } else {
      entry.value = stored.value_or(defaultValue);
      entry.defaultValue = defaultValue;
    }
    if (!stored) entry.origin = origin;
    out.push_back(std::move(entry));
  }
  return out;
}

std::string_view SettingOriginName(SettingOrigin origin) {
  switch (origin) {
    case SettingOrigin::File: return "file";
    case SettingOrigin::StartupValue: return "start-up value";
    case SettingOrigin::Default: break;
  }
  return "default";
}

std::string FormatSettingsListing(const std::vector<ListedSetting>& settings) {
  std::string out, section;
  for (const ListedSetting& s : settings) {
    if (s.section != section) {
      section = s.section;
      out += "[" + section + "]\n";
    }
    std::string line = "  " + s.key;
    line.resize(std::max<std::size_t>(line.size(), 26), ' ');
    line += "= " + (s.value.empty() ? "\"\"" : s.value);
    line.resize(std::max<std::size_t>(line.size(), 64), ' ');
    line += " (" + std::string(SettingOriginName(s.origin));
    if (s.origin == SettingOrigin::File)
      line += "; default " + (s.defaultValue.empty() ? "\"\"" : s.defaultValue);
    out += line + ")\n";
  }
  return out;
}

}  // namespace pv
