#include "platform/user_dirs.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

#include "support/text.h"

namespace pv {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

constexpr uid_t kDefaultSystemUidMax = 999;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool HasHomeOverride() {
  const char* home = std::getenv("POSTVANE_HOME");
  return home != nullptr && *home != '\0';
}

}  // namespace

uid_t SystemUidMax(std::string_view loginDefs) {
  constexpr std::string_view kKey = "SYS_UID_MAX";
  uid_t found = kDefaultSystemUidMax;
  while (!loginDefs.empty()) {
    const std::size_t end = loginDefs.find('\n');
    std::string_view line = Trim(loginDefs.substr(0, end), " \t\r");
    loginDefs = end == std::string_view::npos ? "" : loginDefs.substr(end + 1);
    if (!line.starts_with(kKey) || line.size() == kKey.size() || !IsBlank(line[kKey.size()]))
      continue;
    line = Trim(line.substr(kKey.size()), " \t\r");
    uid_t value = 0;
    const auto [rest, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
    // The last valid line counts, as login.defs readers take it.
    if (ec == std::errc() && rest == line.data() + line.size()) found = value;
  }
  return found;
}

bool IsSystemAccount(uid_t uid) {
  if (uid == 0) return true;
  std::ifstream in("/etc/login.defs");
  std::ostringstream text;
  text << in.rdbuf();
  return uid <= SystemUidMax(text.str());
}

bool IsSystemService(bool isService, bool anyUser) {
  return isService && (anyUser || IsSystemAccount(::geteuid()));
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* pw = ::getpwuid(::getuid());
  return (pw != nullptr && pw->pw_dir != nullptr) ? pw->pw_dir : "/";
}

std::string ConfigHome() { return EnvOr("XDG_CONFIG_HOME", HomeDirectory() + "/.config"); }

std::string DataHome() { return EnvOr("XDG_DATA_HOME", HomeDirectory() + "/.local/share"); }

std::string ProgramDirectory(bool isService, bool anyUser) {
  if (HasHomeOverride()) return std::getenv("POSTVANE_HOME");
  if (IsSystemService(isService, anyUser)) return "/var/spool/postvane";
  return DataHome() + "/postvane";
}

std::string LogDirectory(bool isService, bool anyUser) {
  if (HasHomeOverride() || !IsSystemService(isService, anyUser)) return "";
  return "/var/log/postvane/";
}

std::string SettingsDirectory(bool isService, bool anyUser) {
  if (HasHomeOverride()) return std::getenv("POSTVANE_HOME");
  if (IsSystemService(isService, anyUser)) return "/etc/postvane";
  return DataHome() + "/postvane";
}

std::string RuntimeDirectory() {
  if (IsSystemAccount(::geteuid())) return ServiceRuntimeDirectory();
  if (const char* dir = std::getenv("POSTVANE_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
    return dir;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0')
    return std::string(xdg) + "/postvane";
  return "/tmp/postvane-" + std::to_string(::getuid());
}

std::string ServiceRuntimeDirectory() {
  // A desktop user's tray that shows a system service elsewhere than /run/postvane (tests).
  for (const char* name : {"POSTVANE_SERVICE_RUNTIME_DIR", "POSTVANE_RUNTIME_DIR"})
    if (const char* dir = std::getenv(name); dir != nullptr && *dir != '\0') return dir;
  return "/run/postvane";
}

}  // namespace pv
