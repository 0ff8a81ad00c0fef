#include "settings/system_proxy.h"

#include <array>
#include <cstdlib>

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

  // The port follows the last ":" that is not inside the brackets of an IPv6 address.
  const std::size_t bracketEnd = authority.starts_with('[') ? authority.find(']') : 0;
  if (bracketEnd == std::string_view::npos) return "";
  const std::size_t colon = authority.find(':', bracketEnd);
  const std::string_view host = authority.substr(0, colon);
  if (host.empty() || host == "[]") return "";
  if (colon == std::string_view::npos || colon + 1 == authority.size()) {
    return std::string(host) + ":1080";
  }
  const std::string_view port = authority.substr(colon + 1);
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return "";
  return std::string(authority);
}

std::string GetSystemSocksProxy() {
  const char* value = std::getenv("ALL_PROXY");
  if (value == nullptr) value = std::getenv("all_proxy");
  return value == nullptr ? std::string() : SocksProxyFromUrl(value);
}

}  // namespace pv
