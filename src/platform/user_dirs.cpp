#include "platform/user_dirs.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace pv {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

bool IsSystemService(bool isService, bool anyUser) {
  return isService && (anyUser || ::geteuid() == 0);
}

}  // namespace

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* pw = ::getpwuid(::getuid());
  return (pw != nullptr && pw->pw_dir != nullptr) ? pw->pw_dir : "/";
}

std::string ConfigHome() { return EnvOr("XDG_CONFIG_HOME", HomeDirectory() + "/.config"); }

std::string DataHome() { return EnvOr("XDG_DATA_HOME", HomeDirectory() + "/.local/share"); }

std::string ProgramDirectory(bool isService, bool anyUser) {
  if (const char* home = std::getenv("POSTVANE_HOME"); home != nullptr && *home != '\0')
    return home;
  if (IsSystemService(isService, anyUser)) return "/var/spool/postvane";
  return DataHome() + "/postvane";
}

std::string SettingsDirectory(bool isService, bool anyUser) {
  if (const char* home = std::getenv("POSTVANE_HOME"); home != nullptr && *home != '\0')
    return home;
  if (IsSystemService(isService, anyUser)) return "/etc/postvane";
  return DataHome() + "/postvane";
}

std::string RuntimeDirectory() {
  if (::geteuid() == 0) return ServiceRuntimeDirectory();
  if (const char* dir = std::getenv("POSTVANE_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
    return dir;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0')
    return std::string(xdg) + "/postvane";
  return "/tmp/postvane-" + std::to_string(::getuid());
}

std::string ServiceRuntimeDirectory() {
  if (const char* dir = std::getenv("POSTVANE_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
    return dir;
  return "/run/postvane";
}

}  // namespace pv
