#include "settings/setting_keys.h"

#include <algorithm>
#include <array>

#include "settings/spooler_settings.h"
#include "support/text.h"

namespace pv {
namespace {

using enum SettingType;
using enum SettingDefault;

constexpr std::string_view kS = kSpoolerSection;
constexpr std::string_view kT = kSettingsSection;

constexpr std::array kKeys = {
    SettingKey{kS, "UpDelay", Number, Fixed, "60", "seconds between two spool runs"},
    SettingKey{kS, "LogFileName", Text, Fixed, kDefaultLogFileName,
               "name pattern of the daily CSV log (year$, month$, day$ are replaced)"},
    SettingKey{kS, "LogFileDir", Path, SpoolDirectory, "", "directory of the CSV logs"},
    SettingKey{kS, "OnlyIfOnline", Boolean, Fixed, "0",
               "spool only while the system has a network connection"},
    SettingKey{kS, "SenderHostName", Text, SenderHostName, "",
               "host name given in HELO/EHLO and written into the CSV log"},
    SettingKey{kS, "RelayHostName", Server, Fixed, "",
               "relay host (host[:port]); empty: straight to the recipients' mail exchangers"},
    SettingKey{kS, "WriteSuccessCSVLog", Boolean, Fixed, "1", "log deliveries to the CSV log"},
    SettingKey{kS, "WriteErrorCSVLog", Boolean, Fixed, "1", "log failures to the CSV log"},
    SettingKey{kS, "WriteSuccessNTEventLog", Boolean, Fixed, "0",
               "log deliveries to the system log"},
    SettingKey{kS, "WriteErrorNTEventLog", Boolean, Fixed, "1", "log failures to the system log"},
    SettingKey{kS, "ShowErrorBallons", Boolean, Fixed, "1",
               "notify the desktop of failures (spelled with one o)"},
    SettingKey{kS, "ShowSuccessBallons", Boolean, Fixed, "1",
               "notify the desktop of deliveries (spelled with one o)"},
    SettingKey{kS, "ProxyType", ProxyType, Fixed, kDefaultProxyType,
               "SOCKS proxy kind: None, SOCKS4, SOCKS5NOAUTH, SOCKS5AUTH"},
    SettingKey{kS, "ProxyPassword", Secret, Fixed, "",
               "SOCKS5 password, enciphered (postvane --set-password proxy)"},
    SettingKey{kS, "ProxyServer", Server, SystemSocksProxy, "", "SOCKS proxy (host:port)"},
    SettingKey{kS, "ProxyUser", Text, Fixed, "", "SOCKS user name"},
    SettingKey{kS, "DefaultReturnTo", Text, ReturnAddress, "",
               "where failed mails go back when the mail names no return address"},
    SettingKey{kS, "RetryInterval", RetryList, Fixed, kDefaultRetryInterval,
               "minutes to wait after each failed attempt, comma-separated"},
    SettingKey{kS, "MaxRetryCount", Number, Fixed, "9",
               "failed attempts after which a mail is given up"},
    SettingKey{kS, "TestAddress", Text, ReturnAddress, "",
               "recipient last used by the scripting test"},
    SettingKey{kS, "RelayUser", Text, Fixed, "", "login at the relay (AUTH only over TLS)"},
    SettingKey{kS, "RelayPassword", Secret, Fixed, "",
               "relay password, enciphered (postvane --set-password relay)"},
    SettingKey{kS, "RelaySecurity", RelaySecurity, Fixed, "auto",
               "TLS to the relay: auto, starttls, tls or none"},
    SettingKey{kS, "LocalRecipientsTo", Text, Fixed, "",
               "addresses that bare local names (cron's \"root\") are sent to"},
    SettingKey{kS, "MaxConnections", Number, Fixed, "100",
               "SMTP connections a spool run opens at once, 1 to 1000 (1: one mail after the other)"},
    SettingKey{kS, "MaxConnectionsPerHost", Number, Fixed, "20",
               "of them to one relay or mail exchanger, 1 to 1000"},
    SettingKey{kT, "DefaultSpoolDir", Path, ProgramDirectory, "", "the spool directory"},
    SettingKey{kT, "DefaultExtension", Text, Fixed, kDefaultSpoolExtension,
               "extension of the spool files, without the dot"},
    SettingKey{kT, "DNSServer", DnsServerList, Fixed, kSystemDnsServers,
               "DNS servers for direct delivery (IP[:port], comma-separated) or <SYSTEM>"},
    SettingKey{kT, "DefaultReturnTo", Text, ReturnAddress, "",
               "kept for the settings window; the spooler reads [Spooler] DefaultReturnTo"},
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view section, std::string_view name) {
  for (const SettingKey& key : kKeys)
    if (EqualsNoCase(key.section, Trim(section)) && EqualsNoCase(key.name, Trim(name)))
      return &key;
  return nullptr;
}

std::vector<std::string_view> SettingSections() { return {kS, kT}; }

std::string_view SettingTypeName(SettingType type) {
  switch (type) {
    case Number: return "number";
    case Boolean: return "boolean";
    case Text: return "text";
    case Path: return "directory";
    case Server: return "host[:port]";
    case RelaySecurity: return "TLS mode";
    case ProxyType: return "proxy type";
    case DnsServerList: return "DNS server list";
    case RetryList: return "minute list";
    case Secret: return "secret";
  }
  return "text";
}

std::string DescribeSettingDefault(const SettingKey& key) {
  switch (key.source) {
    case Fixed: return key.defaultText.empty() ? "\"\"" : std::string(key.defaultText);
    case SenderHostName: return "the host's name";
    case ReturnAddress: return "the user's address ($EMAIL)";
    case ProgramDirectory: return "the program directory";
    case SpoolDirectory: return "the spool directory";
    case SystemSocksProxy: return "the SOCKS proxy of ALL_PROXY";
  }
  return "";
}

std::size_t NameDistance(std::string_view a, std::string_view b) {
  const std::string x = ToLowerAscii(a), y = ToLowerAscii(b);
  std::vector<std::size_t> row(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] != y[j - 1])});
      diagonal = above;
    }
  }
  return row[y.size()];
}

std::string_view ClosestName(std::string_view name,
                             std::span<const std::string_view> candidates) {
  const std::size_t limit = std::min<std::size_t>(3, std::max<std::size_t>(1, name.size() / 3));
  std::string_view best;
  std::size_t bestDistance = limit + 1;
  for (std::string_view candidate : candidates) {
    const std::size_t distance = NameDistance(name, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace pv
