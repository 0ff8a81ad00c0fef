#include "settings/system_proxy.h"

#include <array>
#include <cstdlib>

#include "support/host_port.h"
#include "support/text.h"

namespace pv {

std::string SocksProxyFromUrl(std::string_view url) {
  url = Trim(url, " \t\r\n");
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return "";
  static constexpr std::array<std::string_view, 4> kSchemes = {"socks4", "socks4a", "socks5",
                                                               "socks5h"};
  const std::string_view scheme = url.substr(0, schemeEnd);
  bool known = false;
  for (std::string_view candidate : kSchemes) known = known || EqualsNoCase(scheme, candidate);
  if (!known) return "";

  std::string_view authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  // The first colon ends the host, unless the host is a bracketed IPv6 address.
  const HostPortParts parts = SplitHostPort(authority, ColonRule::FirstColon);
  if (parts.malformed || parts.host.empty()) return "";
  const std::string host =
      parts.bracketed ? "[" + std::string(parts.host) + "]" : std::string(parts.host);
  if (parts.port.empty()) return host + ":1080";
  const std::string_view port = parts.port;
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return "";
  return host + ":" + std::string(port);
}

std::string GetSystemSocksProxy() {
  const char* value = std::getenv("ALL_PROXY");
  if (value == nullptr) value = std::getenv("all_proxy");
  return value == nullptr ? std::string() : SocksProxyFromUrl(value);
}

}  // namespace pv
