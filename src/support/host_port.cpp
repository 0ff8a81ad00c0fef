#include "support/host_port.h"

#include <algorithm>

namespace pv {
namespace {

HostPortParts AfterBracket(std::string_view text, std::size_t close) {
  HostPortParts parts;
  parts.bracketed = true;
  parts.host = text.substr(1, close - 1);
  const std::string_view rest = text.substr(close + 1);
  parts.hasPort = rest.starts_with(':');
  if (parts.hasPort) parts.port = rest.substr(1);
  parts.malformed = !rest.empty() && !parts.hasPort;
  return parts;
}

}  // namespace

HostPortParts SplitHostPort(std::string_view text, ColonRule rule) {
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close != std::string_view::npos) return AfterBracket(text, close);
  }
  HostPortParts parts;
  parts.malformed = text.starts_with('[');
  const std::size_t colon = text.find(':');
  const bool bareIpv6 = rule == ColonRule::BareIpv6 && colon != text.rfind(':');
  if (colon == std::string_view::npos || bareIpv6) {
    parts.host = text;
    return parts;
  }
  parts.host = text.substr(0, colon);
  parts.port = text.substr(colon + 1);
  parts.hasPort = true;
  return parts;
}

std::optional<std::uint16_t> ParsePortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int port = std::stoi(std::string(text));
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

std::string HostPortText(std::string_view host, std::uint16_t port) {
  std::string text;
  const bool ipv6 = host.find(':') != std::string_view::npos && !host.starts_with('[');
  if (ipv6) text += '[';
  text += host;
  if (ipv6) text += ']';
  return text + ":" + std::to_string(port);
}

}  // namespace pv
