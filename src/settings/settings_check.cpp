#include "settings/settings_check.h"

#include <algorithm>
#include <optional>
#include <set>

#include "settings/ini_store.h"
#include "settings/setting_cipher.h"
#include "settings/setting_keys.h"
#include "settings/spooler_settings.h"
#include "support/host_port.h"
#include "support/server_address.h"
#include "support/text.h"

namespace pv {
namespace {

using Findings = std::vector<SettingFinding>;

std::string Bracketed(std::string_view section) { return "[" + std::string(section) + "]"; }
std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

void Add(Findings& out, FindingSeverity severity, std::string_view section, std::string_view key,
         std::string text) {
  out.push_back({severity, std::string(section), std::string(key), std::move(text)});
}

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words)
    if (EqualsNoCase(Trim(value), word)) return true;
  return false;
}

std::string Suggestion(std::string_view value, std::initializer_list<std::string_view> words) {
  const std::vector<std::string_view> candidates(words);
  const std::string_view closest = ClosestName(Trim(value), candidates);
  return closest.empty() ? "" : "; did you mean " + std::string(closest) + "?";
}

bool IsPlainInteger(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The value's problem as its type reads it; "" when it reads as written.
std::string NumberProblem(std::string_view value) {
  const std::string reads = "it reads as " + std::to_string(SettingTextToLong(value));
  if (value.empty()) return "is empty; " + reads + ", not the default";
  if (!IsPlainInteger(value)) return "is not a whole number; " + reads;
  if (SettingTextToLong(value) == 0 && value.find_first_not_of("+-0") != std::string_view::npos)
    return "is outside the 32-bit range; " + reads;
  return "";
}

std::string BooleanProblem(std::string_view value) {
  if (IsOneOf(value, {"1", "0", "-1", "true", "false", "wahr", "falsch"})) return "";
  return std::string(value.empty() ? "is empty" : "is not a boolean") + "; it reads as " +
         (SettingTextToBool(value) ? "true" : "false") + " (write 1 or 0)";
}

std::string RelaySecurityProblem(std::string_view value) {
  if (IsOneOf(value, {"auto", "starttls", "tls", "none"})) return "";
  return "is not a TLS mode; it reads as auto, a TLS downgrade (STARTTLS only when the relay "
         "offers it, its certificate unchecked)" +
         Suggestion(value, {"auto", "starttls", "tls", "none"});
}

std::string ProxyTypeProblem(std::string_view value) {
  if (value.empty() || IsOneOf(value, {"none", "noproxy", "socks4", "socks5noauth", "socks5auth"}))
    return "";
  if (IsOneOf(value, {"socks5"}))
    return "reads as None (no proxy); write SOCKS5NOAUTH or SOCKS5AUTH";
  return "is not a proxy type; it reads as None (no proxy)" +
         Suggestion(value, {"None", "SOCKS4", "SOCKS5NOAUTH", "SOCKS5AUTH"});
}

std::string DnsServerListProblem(std::string_view value) {
  if (EqualsNoCase(value, kSystemDnsServers)) return "";
  for (const std::string& raw : Split(value, ',')) {
    const std::string_view item = Trim(raw);
    if (!item.empty() && CanonicalDnsServer(item).empty())
      return "names " + Quoted(item) +
             ", which is not an IP address (with an optional :port); direct delivery fails";
  }
  return "";
}

std::string RetryListProblem(std::string_view value) {
  if (value.empty()) return "is empty; every retry waits 10 minutes";
  for (const std::string& raw : Split(value, ',')) {
    const std::string_view item = Trim(raw);
    if (item.empty() || item.find_first_not_of("0123456789") != std::string_view::npos)
      return "holds " + Quoted(item) + ", which is not a number of minutes; it waits " +
             std::to_string(SettingTextToLong(item)) + " minute(s)";
  }
  return "";
}

std::string ServerProblem(std::string_view value) {
  if (value.empty()) return "";
  ServerAddress address;
  if (!ParseServerAddress(value, address, 25)) return "names no host";
  if (!address.scheme.empty() || !address.userInfo.empty() || !address.path.empty() ||
      !address.query.empty())
    return "is more than host[:port]; only the host and the port are used";
  const HostPortParts parts = SplitHostPort(value, ColonRule::FirstColon);
  if (parts.hasPort && !ParsePortNumber(Trim(parts.port)))
    return "has " + Quoted(parts.port) + " as its port, which is not 1 to 65535";
  return "";
}

bool IsSaneText(std::string_view text) {
  if (!IsValidUtf8(text)) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string SecretProblem(const SettingKey& key, std::string_view value) {
  if (value.empty()) return "";
  const std::optional<std::string> clear = DecipherSetting(value, kProxyPasswordCipherKey);
  if (clear && IsSaneText(*clear)) return "";
  const std::string which = EqualsNoCase(key.name, "RelayPassword") ? "relay" : "proxy";
  return std::string(clear ? "does not decipher to text" : "is not an enciphered value") +
         (clear ? "" : "; it reads as empty") + " (store it with postvane --set-password " +
         which + ")";
}

std::string PathProblem(const SettingKey& key, std::string_view value) {
  // An empty spool directory is replaced by the load; an empty log directory is not.
  if (value.empty() && key.source != SettingDefault::ProgramDirectory)
    return "is empty; the CSV logs go to the spooler's working directory";
  if (value.empty() || value.front() == '/') return "";
  return "is not an absolute path; it is taken from the spooler's working directory";
}

std::string ValueProblem(const SettingKey& key, std::string_view value) {
  switch (key.type) {
    case SettingType::Number: return NumberProblem(value);
    case SettingType::Boolean: return BooleanProblem(value);
    case SettingType::RelaySecurity: return RelaySecurityProblem(value);
    case SettingType::ProxyType: return ProxyTypeProblem(value);
    case SettingType::DnsServerList: return DnsServerListProblem(value);
    case SettingType::RetryList: return RetryListProblem(value);
    case SettingType::Server: return ServerProblem(value);
    case SettingType::Secret: return SecretProblem(key, value);
    case SettingType::Path: return PathProblem(key, value);
    case SettingType::Text: break;
  }
  return "";
}

// A key that is not of its section: misplaced, misspelt, or unknown.
void CheckUnknownKey(std::string_view section, std::string_view name, Findings& out) {
  std::vector<std::string_view> here, elsewhere;
  for (const SettingKey& key : SettingKeys()) {
    if (EqualsNoCase(key.section, section)) here.push_back(key.name);
    else elsewhere.push_back(key.name);
    if (!EqualsNoCase(key.section, section) && EqualsNoCase(key.name, name)) {
      Add(out, FindingSeverity::Warning, section, name,
          std::string(name) + ": in " + Bracketed(section) + ", where the spooler does not "
          "read it; it belongs in " + Bracketed(key.section));
      return;
    }
  }
  std::string text = std::string(name) + ": unknown key in " + Bracketed(section);
  if (const std::string_view closest = ClosestName(name, here); !closest.empty()) {
    text += "; did you mean " + std::string(closest) + "?";
  } else if (const std::string_view other = ClosestName(name, elsewhere); !other.empty()) {
    const auto key = std::ranges::find(SettingKeys(), other, &SettingKey::name);
    text += "; did you mean " + std::string(other) + " in " + Bracketed(key->section) + "?";
  }
  Add(out, FindingSeverity::Warning, section, name, std::move(text));
}

void CheckEntry(std::string_view section, std::string_view name, std::string_view stored,
                Findings& out) {
  const SettingKey* key = FindSettingKey(section, name);
  if (key == nullptr) return CheckUnknownKey(section, name, out);
  const std::string value = CutToReadLimit(StripEnclosingQuotes(stored));
  const std::string problem = ValueProblem(*key, value);
  if (problem.empty()) return;
  // A secret is never shown, not even enciphered.
  const std::string known(key->name);
  const std::string shown = key->type == SettingType::Secret ? known : known + "=" + value;
  const bool fails = key->type == SettingType::Secret || key->type == SettingType::DnsServerList;
  Add(out, fails ? FindingSeverity::Error : FindingSeverity::Warning, key->section, key->name,
      shown + ": " + problem);
}

void CheckSection(const IniDocument& document, const std::string& section, Findings& out) {
  if (const int count = document.SectionCount(section); count > 1)
    Add(out, FindingSeverity::Warning, section, "",
        Bracketed(section) + ": given " + std::to_string(count) +
            " times; only the keys of the first one are read");
  std::set<std::string> seen;
  const std::vector<std::string> lines =
      document.SectionLines(section).value_or(std::vector<std::string>{});
  for (const std::string& line : lines) {
    if (line.front() == ';' || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      Add(out, FindingSeverity::Warning, section, "",
          Bracketed(section) + ": the line " + Quoted(line) + " is no key=value; it is ignored");
      continue;
    }
    const std::string name(Trim(std::string_view(line).substr(0, equals)));
    if (!seen.insert(ToLowerAscii(name)).second) {
      Add(out, FindingSeverity::Warning, section, name,
          name + ": given twice in " + Bracketed(section) + "; the first one counts");
      continue;
    }
    CheckEntry(section, name, Trim(std::string_view(line).substr(equals + 1)), out);
  }
}

void CheckUnknownSection(const std::string& section, Findings& out) {
  const std::vector<std::string_view> known = SettingSections();
  const std::string_view closest = ClosestName(section, known);
  Add(out, FindingSeverity::Warning, section, "",
      Bracketed(section) + ": unknown section" +
          (closest.empty() ? "; the spooler does not read it"
                           : "; did you mean " + Bracketed(closest) + "?"));
}

void CheckDirectory(std::string_view section, std::string_view key, const std::string& directory,
                    SettingsProbe& probe, Findings& out) {
  if (directory.empty() || directory.front() != '/') return;
  if (const std::string problem = probe.DirectoryProblem(directory); !problem.empty())
    Add(out, FindingSeverity::Error, section, key,
        std::string(key) + ": the directory " + directory + " " + problem);
}

void CheckSystem(const IniDocument& document, SettingsProbe& probe,
                 const std::string& defaultSpoolDir, const std::string& defaultLogDir,
                 Findings& out) {
  const auto read = [&](std::string_view section, std::string_view key) {
    return StripEnclosingQuotes(document.Find(section, key).value_or(""));
  };
  std::string spoolDir = read(kSettingsSection, "DefaultSpoolDir");
  if (spoolDir.empty()) spoolDir = defaultSpoolDir;
  std::string logDir = read(kSpoolerSection, "LogFileDir");
  if (!document.Find(kSpoolerSection, "LogFileDir"))
    logDir = defaultLogDir.empty() ? spoolDir : defaultLogDir;
  CheckDirectory(kSettingsSection, "DefaultSpoolDir", spoolDir, probe, out);
  if (logDir != spoolDir) CheckDirectory(kSpoolerSection, "LogFileDir", logDir, probe, out);
  const auto flag = [&](std::string_view key, bool byDefault) {
    const std::optional<std::string> stored = document.Find(kSpoolerSection, key);
    return stored ? SettingTextToBool(StripEnclosingQuotes(*stored)) : byDefault;
  };
  const bool logs = flag("WriteErrorNTEventLog", true) || flag("WriteSuccessNTEventLog", false);
  if (const std::string problem = probe.SystemLogProblem(); logs && !problem.empty())
    Add(out, FindingSeverity::Warning, "", "", "the system log: " + problem);
}

}  // namespace

std::vector<SettingFinding> CheckSettings(const IniDocument& document, SettingsProbe& probe,
                                          const std::string& defaultSpoolDir,
                                          const std::string& defaultLogDir) {
  Findings out;
  for (const std::string& section : document.SectionNames()) {
    if (!std::ranges::any_of(SettingSections(),
                             [&](std::string_view known) { return EqualsNoCase(known, section); }))
      CheckUnknownSection(section, out);
    else
      CheckSection(document, section, out);
  }
  CheckSystem(document, probe, defaultSpoolDir, defaultLogDir, out);
  return out;
}

}  // namespace pv
