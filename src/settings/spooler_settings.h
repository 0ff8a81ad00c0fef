#pragma once
// SpoolerSettings, the in-memory record of every spooler setting, and LoadSettings, which fills
// it from the settings file (sections "Spooler" and "Settings").
#include <cstdint>
#include <string>
#include <string_view>

#include "support/proxy_type.h"
#include "support/relay_security.h"

namespace pv {

inline constexpr std::string_view kSpoolerSection = "Spooler";
inline constexpr std::string_view kSettingsSection = "Settings";

inline constexpr std::int32_t kDefaultUpDelay = 60;
inline constexpr std::string_view kDefaultLogFileName = "PVX-year$-month$-day$.csv";
inline constexpr std::string_view kDefaultSpoolExtension = "eml";
inline constexpr std::string_view kDefaultProxyType = "None";
inline constexpr std::string_view kSystemDnsServers = "<SYSTEM>";
inline constexpr std::string_view kDefaultRetryInterval = "10,10,10,60,120,240,480,720,1440";
inline constexpr std::int32_t kDefaultMaxRetryCount = 9;
// Concurrent SMTP connections of a spool run, in all and to one host; read within 1 to
// kMostConnections.
inline constexpr std::int32_t kDefaultMaxConnections = 100;
inline constexpr std::int32_t kDefaultMaxConnectionsPerHost = 20;
inline constexpr std::int32_t kMostConnections = 1000;

// The key RelaySecurity, compared after lower-casing: "starttls", "tls", "none"; "auto" and any
// other text give Auto.
RelaySecurityMode RelaySecurityFromText(std::string_view text);
const char* RelaySecurityName(RelaySecurityMode mode);

// The fields in the order LoadSettings fills them, named after the keys they come from.
struct SpoolerSettings {
  std::int32_t UpDelay = kDefaultUpDelay;
  std::string LogFileName;
  std::string LogFileDir;
  bool OnlyIfOnline = false;
  std::string DefaultExtension;
  std::string SpoolFilePattern;  // spool directory with separator + "*." + DefaultExtension
  std::string SenderHostName;
  std::string RelayHostName;
  bool WriteSuccessCSVLog = true;
  bool WriteErrorCSVLog = true;
  bool WriteSuccessNTEventLog = false;
  bool WriteErrorNTEventLog = true;
  bool ShowErrorBallons = true;
  bool ShowSuccessBallons = true;
  ProxyTypeCode ProxyType = ProxyNone;
  std::string ProxyPassword;  // in clear
  std::string ProxyServer;    // host:port
  std::string ProxyUser;
  std::string EffectiveDNSServers;  // comma-separated
  std::string DefaultReturnTo;
  std::string RetryInterval;
  std::int32_t MaxRetryCount = kDefaultMaxRetryCount;
  // The relay's login (read after the keys above): AUTH only ever goes over TLS.
  std::string RelayUser;
  std::string RelayPassword;  // in clear; stored enciphered like ProxyPassword
  RelaySecurityMode RelaySecurity = RelaySecurityMode::Auto;
  // Where the sendmail front end sends mail for a bare local name ("root"): an address or a
  // comma list; "" means name@SenderHostName.
  std::string LocalRecipientsTo;
  // How many deliveries a spool run makes at once: connections in all (1: one file after the
  // other) and to one relay or mail exchanger.
  std::int32_t MaxConnections = kDefaultMaxConnections;
  std::int32_t MaxConnectionsPerHost = kDefaultMaxConnectionsPerHost;
};

// Start-up values that serve as defaults of the load.
struct SettingsDefaults {
  std::string SystemDNSServers;       // comma-separated
  std::string DefaultSenderHostName;
  std::string DefaultReturnAddress;
  std::string ProgramDirectory;       // default spool directory, separator at the end optional
  std::string LogDirectory;           // default LogFileDir; "" for the spool directory
};

// "socks4", "socks5noauth", "socks5auth" (any case) give codes 1, 2, 3; any other text 0.
ProxyTypeCode ProxyTypeFromText(std::string_view text);

// Fills settings from the settings file; keys that are missing take their defaults. An empty
// or missing Settings/DefaultSpoolDir becomes the program directory with a trailing separator
// and is written back to the file. Nothing is validated. True when every step succeeded; a
// failing step (the write-back) does not stop the load.
bool LoadSettings(const std::string& settingsFile, const SettingsDefaults& defaults,
                  SpoolerSettings& settings);

// The settings as "Key = value" lines, one per field, for people; the proxy password is masked.
std::string DescribeSettings(const SpoolerSettings& settings);

}  // namespace pv
