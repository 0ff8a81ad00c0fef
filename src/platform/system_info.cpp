#include "platform/system_info.h"

#include <clocale>
#include <cstdlib>
#include <initializer_list>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <pwd.h>
#include <unistd.h>

#include "platform/user_groups.h"
#include "support/durable_write.h"
#include "support/text.h"

namespace pv {

std::string ParseResolvConfServers(std::string_view content) {
  std::string servers;
  for (const std::string& rawLine : Split(content, '\n')) {
    const std::string_view line = Trim(rawLine);
    if (!line.starts_with("nameserver")) continue;
    const std::string_view rest = line.substr(10);
    if (rest.empty() || (rest.front() != ' ' && rest.front() != '\t')) continue;
    const std::string_view address = Trim(rest.substr(0, rest.find_first_of("#;")));
    if (address.empty() || address.find_first_of(" \t") != std::string_view::npos) continue;
    if (!servers.empty()) servers += ',';
    servers += address;
  }
  return servers;
}

bool SystemDnsServers(std::string& servers, const std::string& resolvConf) {
  std::string content;
  servers.clear();
  if (ReadWholeFile(resolvConf, content)) return false;
  servers = ParseResolvConfServers(content);
  return true;
}

std::string ComposeHostName(std::string_view hostName, std::string_view canonicalName) {
  if (hostName.find('.') != std::string_view::npos) return std::string(hostName);
  if (canonicalName.find('.') != std::string_view::npos &&
      StartsWithNoCase(canonicalName, std::string(hostName) + "."))
    return std::string(canonicalName);
  return std::string(hostName);
}

std::string GetLocalHostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  std::string canonical;
  if (std::string_view(name).find('.') == std::string_view::npos) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &result) == 0 && result != nullptr) {
      if (result->ai_canonname != nullptr) canonical = result->ai_canonname;
      ::freeaddrinfo(result);
    }
  }
  return ComposeHostName(name, canonical);
}

std::string GetComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string GetLogonDomain() {
  char domain[256] = {};
  if (::getdomainname(domain, sizeof domain - 1) != 0) return "";
  const std::string value = domain;
  return value == "(none)" ? "" : value;
}

std::string GetWorkgroupName() { return ""; }

std::string FormatMailAddress(std::string_view displayName, std::string_view address) {
  if (displayName.empty()) return std::string(address);
  return "\"" + std::string(displayName) + "\" <" + std::string(address) + ">";
}

std::string FullNameFromGecos(std::string_view gecos, std::string_view login) {
  const std::string_view first = gecos.substr(0, gecos.find(','));
  std::string capitalised(login);
  if (!capitalised.empty() && capitalised[0] >= 'a' && capitalised[0] <= 'z')
    capitalised[0] = static_cast<char>(capitalised[0] - 'a' + 'A');
  std::string name;
  for (char c : first) name += (c == '&') ? capitalised : std::string(1, c);
  return std::string(Trim(name));
}

std::string DefaultMailAddressFrom(std::string_view email, std::string_view fullName) {
  const std::string_view address = Trim(email);
  if (address.empty()) return "";
  if (address.find('<') != std::string_view::npos) return std::string(address);
  return FormatMailAddress(fullName, address);
}

std::string GetDefaultMailAddress() {
  const char* email = std::getenv("EMAIL");
  if (email == nullptr) return "";
  const passwd* pw = ::getpwuid(::getuid());
  const std::string fullName =
      pw == nullptr ? "" : FullNameFromGecos(pw->pw_gecos ? pw->pw_gecos : "", pw->pw_name);
  return DefaultMailAddressFrom(email, fullName);
}

std::string ListSeparatorFor(std::string_view decimalPoint) {
  return decimalPoint == "," ? ";" : ",";
}

std::string LocaleListSeparator() {
  // The user's locale from the environment, whatever the process has set.
  locale_t user = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return ",";
  const std::string separator = ListSeparatorFor(::nl_langinfo_l(RADIXCHAR, user));
  ::freelocale(user);
  return separator;
}

bool IsRemoteSession() {
  const char* ssh = std::getenv("SSH_CONNECTION");
  return ssh != nullptr && *ssh != '\0';
}

bool IsUserAdministrator() {
  const uid_t uid = ::geteuid();
  if (uid == 0) return true;
  for (const char* group : {"sudo", "wheel", "admin"})
    if (UserInGroup(uid, group)) return true;
  return false;
}

std::string ExecutablePath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace pv
