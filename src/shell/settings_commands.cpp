#include "shell/settings_commands.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include "platform/secret_input.h"
#include "reporting/result_log.h"
#include "reporting/syslog_sink.h"
#include "settings/ini_document.h"
#include "settings/setting_cipher.h"
#include "settings/settings_listing.h"
#include "settings/spooler_settings.h"
#include "settings/system_proxy.h"
#include "shell/linux_startup_platform.h"
#include "shell/settings_probe.h"
#include "shell/settings_state.h"
#include "support/durable_write.h"
#include "support/exit_codes.h"
#include "support/paths.h"

namespace pv {
namespace {

// The group that may read the service's settings besides root.
inline constexpr const char* kServiceGroup = "postvane";

// The settings file as a document; a missing file is an empty one. False with error set when
// it exists but cannot be read.
bool ReadSettingsDocument(const std::string& file, IniDocument& document, std::string& error) {
  std::string bytes;
  const IoError read = ReadWholeFile(file, bytes);
  if (read && read.number != kErrFileNotFound && read.number != kErrPathNotFound) {
    error = read.text;
    return false;
  }
  document = IniDocument::Parse(bytes);
  return true;
}

// A new settings file of the service: readable by the service group when there is one.
void ShareWithServiceGroup(const std::string& file) {
  const group* entry = ::getgrnam(kServiceGroup);
  if (entry == nullptr || ::geteuid() != 0) return;
  if (::chown(file.c_str(), 0, entry->gr_gid) == 0) ::chmod(file.c_str(), 0640);
}

}  // namespace

std::vector<std::string> CheckSettingsFile(const StartupValues& startup, SettingsProbe& probe) {
  const std::string& file = startup.SettingsFile;
  IniDocument document;
  std::string error;
  if (!ReadSettingsDocument(file, document, error))
    return {file + ": cannot be read (" + error + "); every key takes its default"};
  std::vector<std::string> lines;
  for (const SettingFinding& finding :
       CheckSettings(document, probe, AddTrailingSeparator(startup.ProgramDirectory),
                     startup.LogDirectory))
    lines.push_back(file + ": " + finding.text);
  return lines;
}

void TellSettingsFindings(const StartupValues& startup) {
  SystemSettingsProbe probe = SystemSettingsProbe::ForThisProcess();
  SyslogSink systemLog;
  for (const std::string& line : CheckSettingsFile(startup, probe)) {
    std::cerr << "postvane: " << line << "\n";
    std::string source = kResultEventSource;
    systemLog.WriteEventLogEntry(line, kEventWarning, source);
  }
}

int RunCheckConfig(const CommandLine& line) {
  const bool service = InstallToolStartup(line.service);
  SystemSettingsProbe probe =
      service ? SystemSettingsProbe::ForService() : SystemSettingsProbe::ForThisProcess();
  const std::vector<std::string> findings = CheckSettingsFile(Startup(), probe);
  for (const std::string& finding : findings) std::cout << finding << "\n";
  if (findings.empty()) std::cout << Startup().SettingsFile << ": no findings\n";
  return findings.empty() ? kSettingsDone : kSettingsFindings;
}

bool DescribeSettingsFile(const StartupValues& startup, std::string& text, std::string& error) {
  IniDocument document;
  if (!ReadSettingsDocument(startup.SettingsFile, document, error)) return false;
  ListingDefaults defaults;
  defaults.startup = SettingsDefaultsOf(startup);
  defaults.systemSocksProxy = GetSystemSocksProxy();
  text = "Settings file: " + startup.SettingsFile +
         (FileExists(startup.SettingsFile) ? "" : " (not there: every key takes its default)") +
         "\n" + FormatSettingsListing(ListSettings(document, defaults));
  return true;
}

int RunShowConfig(const CommandLine& line) {
  InstallToolStartup(line.service);
  const StartupValues& startup = Startup();
  std::string text, error;
  if (!DescribeSettingsFile(startup, text, error)) {
    std::cerr << "postvane: " << startup.SettingsFile << ": cannot be read (" << error << ")\n";
    return kSettingsFindings;
  }
  std::cout << text;
  return kSettingsDone;
}

int RunSetPassword(const CommandLine& line) {
  const bool relay = line.file == "relay";
  const bool service = InstallToolStartup(line.service);
  const std::string& file = Startup().SettingsFile;
  std::string error;
  const std::optional<std::string> secret =
      ReadSecret(relay ? "Password for the relay: " : "Password for the SOCKS proxy: ", error);
  if (!secret) {
    std::cerr << "postvane: " << error << "; nothing stored\n";
    return kSettingsFindings;
  }
  MakeDirectories(RemoveTrailingSeparator(DirectoryPart(file)));
  const bool existed = FileExists(file);
  const char* key = relay ? "RelayPassword" : "ProxyPassword";
  if (!INIWriteUnicodeStringCrypted(file, kSpoolerSection, key, *secret, kProxyPasswordCipherKey)) {
    std::cerr << "postvane: cannot write " << file << "; nothing stored\n";
    return kSettingsFindings;
  }
  if (!existed && service) ShareWithServiceGroup(file);
  std::cout << "The " << (relay ? "relay" : "proxy") << " password is "
            << (secret->empty() ? "cleared" : "stored, enciphered,") << " in " << file << "\n";
  return kSettingsDone;
}

}  // namespace pv
