#include "settings/spooler_settings.h"

#include <algorithm>

#include "settings/ini_store.h"
#include "settings/setting_cipher.h"
#include "settings/system_proxy.h"
#include "support/paths.h"
#include "support/text.h"

namespace pv {
namespace {

// The delay, the spool directory (written back when missing), the log and the
// spool file pattern.
bool LoadSpoolPart(const std::string& file, const SettingsDefaults& defaults,
                   SpoolerSettings& s) {
  s.UpDelay = ReadSettingLong(file, kSpoolerSection, "UpDelay", kDefaultUpDelay);
  bool ok = true;
  std::string spoolDir = ReadSettingString(file, kSettingsSection, "DefaultSpoolDir", "");
  if (spoolDir.empty()) {
    spoolDir = AddTrailingSeparator(defaults.ProgramDirectory);
    ok = WriteSettingString(file, kSettingsSection, "DefaultSpoolDir", spoolDir);
  }
  s.LogFileName = ReadSettingString(file, kSpoolerSection, "LogFileName", kDefaultLogFileName);
  s.LogFileDir = ReadSettingString(file, kSpoolerSection, "LogFileDir",
                                   defaults.LogDirectory.empty() ? spoolDir : defaults.LogDirectory);
  s.OnlyIfOnline = ReadSettingBool(file, kSpoolerSection, "OnlyIfOnline", false);
  s.DefaultExtension =
      ReadSettingString(file, kSettingsSection, "DefaultExtension", kDefaultSpoolExtension);
  s.SpoolFilePattern = AddTrailingSeparator(spoolDir) + "*." + s.DefaultExtension;
  return ok;
}

// The host names and the six reporting switches.
void LoadReportingPart(const std::string& file, const SettingsDefaults& defaults,
                       SpoolerSettings& s) {
  s.SenderHostName =
      ReadSettingString(file, kSpoolerSection, "SenderHostName", defaults.DefaultSenderHostName);
  s.RelayHostName = ReadSettingString(file, kSpoolerSection, "RelayHostName", "");
  s.WriteSuccessCSVLog = ReadSettingBool(file, kSpoolerSection, "WriteSuccessCSVLog", true);
  s.WriteErrorCSVLog = ReadSettingBool(file, kSpoolerSection, "WriteErrorCSVLog", true);
  s.WriteSuccessNTEventLog =
      ReadSettingBool(file, kSpoolerSection, "WriteSuccessNTEventLog", false);
  s.WriteErrorNTEventLog = ReadSettingBool(file, kSpoolerSection, "WriteErrorNTEventLog", true);
  s.ShowErrorBallons = ReadSettingBool(file, kSpoolerSection, "ShowErrorBallons", true);
  s.ShowSuccessBallons = ReadSettingBool(file, kSpoolerSection, "ShowSuccessBallons", true);
}

// Proxy, DNS servers, return address and retries.
void LoadDeliveryPart(const std::string& file, const SettingsDefaults& defaults,
                      SpoolerSettings& s) {
  s.ProxyType =
      ProxyTypeFromText(ReadSettingString(file, kSpoolerSection, "ProxyType", kDefaultProxyType));
  s.ProxyPassword = INIReadUnicodeStringCrypted(file, kSpoolerSection, "ProxyPassword", "",
                                                kProxyPasswordCipherKey);
  s.ProxyServer = ReadSettingString(file, kSpoolerSection, "ProxyServer", GetSystemSocksProxy());
  s.ProxyUser = ReadSettingString(file, kSpoolerSection, "ProxyUser", "");
  const std::string dns = ReadSettingString(file, kSettingsSection, "DNSServer", kSystemDnsServers);
  s.EffectiveDNSServers = EqualsNoCase(dns, kSystemDnsServers) ? defaults.SystemDNSServers : dns;
  s.DefaultReturnTo =
      ReadSettingString(file, kSpoolerSection, "DefaultReturnTo", defaults.DefaultReturnAddress);
  s.RetryInterval =
      ReadSettingString(file, kSpoolerSection, "RetryInterval", kDefaultRetryInterval);
  s.MaxRetryCount = ReadSettingLong(file, kSpoolerSection, "MaxRetryCount", kDefaultMaxRetryCount);
}

// Beyond the original keys: the relay's login and transport security, and the local
// recipients of the sendmail front end.
void LoadRelayPart(const std::string& file, SpoolerSettings& s) {
  s.RelayUser = ReadSettingString(file, kSpoolerSection, "RelayUser", "");
  s.RelayPassword = INIReadUnicodeStringCrypted(file, kSpoolerSection, "RelayPassword", "",
                                                kProxyPasswordCipherKey);
  s.RelaySecurity =
      RelaySecurityFromText(ReadSettingString(file, kSpoolerSection, "RelaySecurity", "auto"));
  s.LocalRecipientsTo = ReadSettingString(file, kSpoolerSection, "LocalRecipientsTo", "");
}

std::int32_t ReadConnectionLimit(const std::string& file, const char* key, std::int32_t fallback) {
  const std::int32_t value = ReadSettingLong(file, kSpoolerSection, key, fallback);
  return std::clamp(value, std::int32_t{1}, kMostConnections);
}

void LoadConcurrencyPart(const std::string& file, SpoolerSettings& s) {
  s.MaxConnections = ReadConnectionLimit(file, "MaxConnections", kDefaultMaxConnections);
  s.MaxConnectionsPerHost =
      ReadConnectionLimit(file, "MaxConnectionsPerHost", kDefaultMaxConnectionsPerHost);
}

const char* ProxyTypeName(ProxyTypeCode code) {
  switch (code) {
    case ProxySocks4: return "SOCKS4";
    case ProxySocks5NoAuth: return "SOCKS5NOAUTH";
    case ProxySocks5Auth: return "SOCKS5AUTH";
    case ProxyNone: break;
  }
  return "NONE";
}

void AddLine(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append(" = ").append(value).push_back('\n');
}

}  // namespace

ProxyTypeCode ProxyTypeFromText(std::string_view text) {
  const std::string lower = ToLowerAscii(text);
  if (lower == "socks4") return ProxySocks4;
  if (lower == "socks5noauth") return ProxySocks5NoAuth;
  if (lower == "socks5auth") return ProxySocks5Auth;
  return ProxyNone;
}

RelaySecurityMode RelaySecurityFromText(std::string_view text) {
  const std::string lower = ToLowerAscii(Trim(text));
  if (lower == "starttls") return RelaySecurityMode::StartTls;
  if (lower == "tls") return RelaySecurityMode::Tls;
  if (lower == "none") return RelaySecurityMode::None;
  return RelaySecurityMode::Auto;
}

const char* RelaySecurityName(RelaySecurityMode mode) {
  switch (mode) {
    case RelaySecurityMode::StartTls: return "starttls";
    case RelaySecurityMode::Tls: return "tls";
    case RelaySecurityMode::None: return "none";
    case RelaySecurityMode::Auto: break;
  }
  return "auto";
}

bool LoadSettings(const std::string& settingsFile, const SettingsDefaults& defaults,
                  SpoolerSettings& settings) {
  const bool ok = LoadSpoolPart(settingsFile, defaults, settings);
  LoadReportingPart(settingsFile, defaults, settings);
  LoadDeliveryPart(settingsFile, defaults, settings);
  LoadRelayPart(settingsFile, settings);
  LoadConcurrencyPart(settingsFile, settings);
  return ok;
}

std::string DescribeSettings(const SpoolerSettings& s) {
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  std::string out;
  AddLine(out, "UpDelay", std::to_string(s.UpDelay));
  AddLine(out, "LogFileName", s.LogFileName);
  AddLine(out, "LogFileDir", s.LogFileDir);
  AddLine(out, "OnlyIfOnline", flag(s.OnlyIfOnline));
  AddLine(out, "DefaultExtension", s.DefaultExtension);
  AddLine(out, "SpoolFilePattern", s.SpoolFilePattern);
  AddLine(out, "SenderHostName", s.SenderHostName);
  AddLine(out, "RelayHostName", s.RelayHostName);
  AddLine(out, "WriteSuccessCSVLog", flag(s.WriteSuccessCSVLog));
  AddLine(out, "WriteErrorCSVLog", flag(s.WriteErrorCSVLog));
  AddLine(out, "WriteSuccessNTEventLog", flag(s.WriteSuccessNTEventLog));
  AddLine(out, "WriteErrorNTEventLog", flag(s.WriteErrorNTEventLog));
  AddLine(out, "ShowErrorBallons", flag(s.ShowErrorBallons));
  AddLine(out, "ShowSuccessBallons", flag(s.ShowSuccessBallons));
  AddLine(out, "ProxyType",
          std::to_string(s.ProxyType) + " (" + ProxyTypeName(s.ProxyType) + ")");
  AddLine(out, "ProxyPassword", s.ProxyPassword.empty() ? "" : "********");
  AddLine(out, "ProxyServer", s.ProxyServer);
  AddLine(out, "ProxyUser", s.ProxyUser);
  AddLine(out, "EffectiveDNSServers", s.EffectiveDNSServers);
  AddLine(out, "DefaultReturnTo", s.DefaultReturnTo);
  AddLine(out, "RetryInterval", s.RetryInterval);
  AddLine(out, "MaxRetryCount", std::to_string(s.MaxRetryCount));
  AddLine(out, "RelayUser", s.RelayUser);
  AddLine(out, "RelayPassword", s.RelayPassword.empty() ? "" : "********");
  AddLine(out, "RelaySecurity", RelaySecurityName(s.RelaySecurity));
  AddLine(out, "LocalRecipientsTo", s.LocalRecipientsTo);
  AddLine(out, "MaxConnections", std::to_string(s.MaxConnections));
  AddLine(out, "MaxConnectionsPerHost", std::to_string(s.MaxConnectionsPerHost));
  return out;
}

}  // namespace pv
