#pragma once
// Every key of the settings table with the value the spooler works with, its default and where
// the value comes from: the listing of `postvane --show-config`. Secrets are never shown.
#include <string>
#include <vector>

#include "settings/ini_document.h"
#include "settings/spooler_settings.h"

namespace pv {

inline constexpr std::string_view kMaskedSecret = "********";
inline constexpr std::string_view kSecretNotSet = "(not set)";

enum class SettingOrigin {
  File,          // the settings file holds the key
  Default,       // a fixed default, or one that follows another setting
  StartupValue,  // the default comes from the system (host name, user's address, directories)
};

struct ListedSetting {
  std::string section;
  std::string key;
  std::string value;         // as read; secrets masked
  std::string defaultValue;  // secrets: "(not set)"
  SettingOrigin origin = SettingOrigin::Default;
};

// The values that the defaults come from (besides the fixed ones).
struct ListingDefaults {
  SettingsDefaults startup;
  std::string systemSocksProxy;  // GetSystemSocksProxy()
};

// One entry per key of the table, in its order. An empty DefaultSpoolDir counts as missing
// (the load replaces it).
std::vector<ListedSetting> ListSettings(const IniDocument& document,
                                        const ListingDefaults& defaults);

// "file", "default", "start-up value".
std::string_view SettingOriginName(SettingOrigin origin);

// The listing for people: one line per key under its section's header.
std::string FormatSettingsListing(const std::vector<ListedSetting>& settings);

}  // namespace pv
