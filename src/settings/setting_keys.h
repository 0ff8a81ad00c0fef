#pragma once
// Every key of the settings file, in one table: where it lives, how its text is read, what a
// missing key means. The load (spooler_settings.h) reads these keys; the check, the
// --show-config listing and the configuration guide are made from this table.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// How a value is read.
enum class SettingType {
  Number,         // the leading number, rounded; 0 without one
  Boolean,        // "1", "-1", "true", "wahr" are true, every other text false
  Text,
  Path,           // a directory
  Server,         // host[:port], "" for none
  RelaySecurity,  // auto, starttls, tls, none
  ProxyType,      // None, SOCKS4, SOCKS5NOAUTH, SOCKS5AUTH
  DnsServerList,  // "<SYSTEM>" or IP addresses [":" port], comma-separated
  RetryList,      // minutes, comma-separated
  Secret,         // enciphered (setting_cipher.h)
};

// Where the value of a missing key comes from.
enum class SettingDefault {
  Fixed,             // SettingKey::defaultText
  SenderHostName,    // the local host's name (start-up value DefaultSenderHostName)
  ReturnAddress,     // the user's address (start-up value DefaultReturnAddress)
  ProgramDirectory,  // the program directory with a separator, written back to the file
  SpoolDirectory,    // the spool directory as loaded
  SystemSocksProxy,  // the SOCKS proxy of the environment (ALL_PROXY)
};

struct SettingKey {
  std::string_view section;
  std::string_view name;
  SettingType type;
  SettingDefault source;
  std::string_view defaultText;  // for SettingDefault::Fixed
  std::string_view meaning;
};

// The whole table, section "Spooler" first, each section in the order of the load.
std::span<const SettingKey> SettingKeys();
// The key of that section and name (both without regard to case); nullptr when unknown.
const SettingKey* FindSettingKey(std::string_view section, std::string_view name);
// The section names of the table, in order.
std::vector<std::string_view> SettingSections();

// "number", "boolean", ... for people.
std::string_view SettingTypeName(SettingType type);
// The default as the guide and --show-config describe it: the fixed text, quoted when empty,
// or the name of the start-up value it comes from.
std::string DescribeSettingDefault(const SettingKey& key);

// The Levenshtein distance of two names, without regard to ASCII case.
std::size_t NameDistance(std::string_view a, std::string_view b);
// Of the candidates, the one closest to name when it is close enough to be a likely slip
// (at most a third of its letters differ, and at most 3); "" when none is.
std::string_view ClosestName(std::string_view name, std::span<const std::string_view> candidates);

}  // namespace pv
