#include "support/server_address.h"

#include <cmath>
#include <cstdlib>

#include "support/host_port.h"
#include "support/ip_literal.h"
#include "support/text.h"

namespace pv {
namespace {

// The leading decimal number (sign, digits, fraction) rounded half to even, limited to
// 1 ... 65535; no number counts as 0, so it gives 1.
std::int32_t LeadingPort(std::string_view text) {
  text = Trim(text);
  std::size_t end = 0;
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  const std::size_t digitsStart = end;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.')) ++end;
  double value = 0;
  if (end > digitsStart) value = std::strtod(std::string(text.substr(0, end)).c_str(), nullptr);
  const double rounded = std::nearbyint(value);
  if (!(rounded >= 1)) return 1;
  if (rounded > 65535) return 65535;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

bool ParseServerAddress(std::string_view address, ServerAddress& out, std::int32_t defaultPort) {
  out = {};
  if (const auto pos = address.find("://"); pos != std::string_view::npos) {
    out.scheme = std::string(Trim(address.substr(0, pos)));
    address = Trim(address.substr(pos + 3));
  }
  if (const auto pos = address.find('?'); pos != std::string_view::npos) {
    out.query = std::string(address.substr(pos + 1));
    address = address.substr(0, pos);
  }
  auto slash = address.find('/');
  if (slash == std::string_view::npos) slash = address.find('\\');
  if (slash != std::string_view::npos) {
    out.path = std::string(Trim(address.substr(slash + 1)));
    address = Trim(address.substr(0, slash));
  }
  if (const auto at = address.find('@'); at != std::string_view::npos) {
    out.userInfo = std::string(address.substr(0, at));
    address = address.substr(at + 1);
  }
  // The first colon ends the host, unless the host is a bracketed IPv6 address.
  const HostPortParts parts = SplitHostPort(address, ColonRule::FirstColon);
  out.host = std::string(parts.bracketed ? parts.host : Trim(parts.host));
  out.port = parts.hasPort ? LeadingPort(parts.port) : defaultPort;
  return !out.host.empty();
}

std::string CanonicalDnsServer(std::string_view item) {
  const HostPortParts parts = SplitHostPort(item, ColonRule::BareIpv6);
  const std::string_view host = parts.host;
  const std::string_view port = parts.port;
  const bool address = parts.bracketed ? IsIpv6Literal(host)
                       : parts.hasPort ? IsIpv4Literal(host)
                                       : IsIpLiteral(host);
  if (parts.malformed || !address) return {};
  if (parts.hasPort && !ParsePortNumber(port)) return {};
  const bool v6 = host.find(':') != std::string_view::npos;
  if (port.empty()) return std::string(host);
  return (v6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + std::string(port);
}

}  // namespace pv
