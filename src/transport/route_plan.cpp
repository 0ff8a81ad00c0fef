#include "transport/route_plan.h"

#include <algorithm>
#include <map>

#include "support/ip_literal.h"
#include "support/text.h"
#include "transport/recipients.h"

namespace pv {
namespace {

// host, host:port or [IPv6]:port.
void SplitRelayHost(const std::string& relay, std::string& host, std::uint16_t& port,
                    std::uint16_t defaultPort) {
  std::string_view text = Trim(relay);
  port = defaultPort;
  std::string_view portText;
  if (text.starts_with('[') && text.find(']') != std::string_view::npos) {
    const auto close = text.find(']');
    host = std::string(text.substr(1, close - 1));
    if (text.substr(close + 1).starts_with(':')) portText = text.substr(close + 2);
  } else if (text.find(':') != std::string_view::npos &&
             text.find(':') == text.rfind(':')) {
    host = std::string(Trim(text.substr(0, text.find(':'))));
    portText = text.substr(text.find(':') + 1);
  } else {
    host = std::string(text);  // a bare IPv6 address or a name
  }
  const std::string digits(Trim(portText));
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
      digits.size() <= 5 && std::stoi(digits) >= 1 && std::stoi(digits) <= 65535)
    port = static_cast<std::uint16_t>(std::stoi(digits));
}

}  // namespace

std::vector<Route> PlanRoutes(const std::vector<PendingRecipient>& pending,
                              const std::string& relayHost) {
  std::vector<Route> routes;
  std::map<std::string, std::size_t> byDomain;
  for (const PendingRecipient& r : pending) {
    const std::string domain = relayHost.empty() ? DomainOfAddress(r.address) : relayHost;
    auto [it, added] = byDomain.emplace(domain, routes.size());
    if (added) routes.push_back({domain, !relayHost.empty(), {}});
    routes[it->second].members.push_back(r.index);
  }
  return routes;
}

Endpoint RelayEndpoint(const RelaySettings& relay) {
  Endpoint endpoint;
  SplitRelayHost(relay.host, endpoint.host, endpoint.port, relay.tls == RelayTls::Tls ? 465 : 25);
  return endpoint;
}

TlsMode TlsModeOf(RelayTls security) {
  switch (security) {
    case RelayTls::StartTls: return TlsMode::Required;
    case RelayTls::Tls: return TlsMode::Implicit;
    case RelayTls::None: return TlsMode::Off;
    case RelayTls::Auto: break;
  }
  return TlsMode::Opportunistic;
}

SmtpSessionOptions SessionOptionsFor(const Route& route, const RelaySettings& relay,
                                     SmtpSessionOptions base) {
  base.tls = route.relay ? TlsModeOf(relay.tls) : TlsMode::Opportunistic;
  base.authUser = route.relay ? relay.user : "";
  base.authPassword = route.relay ? relay.password : "";
  return base;
}

std::string ValidHeloName(const std::string& name) {
  const std::string_view trimmed = Trim(name);
  const bool ok = !trimmed.empty() &&
                  std::all_of(trimmed.begin(), trimmed.end(), [](char c) {
                    return c > 32 && c < 127 && c != '<' && c != '>';
                  });
  return ok ? std::string(trimmed) : "localhost.localdomain";
}

bool ProxyResolvesNames(const ProxySettings& proxy) { return proxy.type == 2 || proxy.type == 3; }

std::vector<std::string> ReachableAddresses(const std::vector<std::string>& addresses,
                                            const ProxySettings& proxy) {
  std::vector<std::string> reachable;
  for (const std::string& address : addresses)
    if (proxy.type != 1 || IsIpv4Literal(address)) reachable.push_back(address);
  return reachable;
}

std::string SessionKey(const Endpoint& address, const SmtpSessionOptions& options,
                       const ProxySettings& proxy) {
  return address.host + "|" + std::to_string(address.port) + "|" +
         std::to_string(static_cast<int>(options.tls)) + "|" + options.heloName + "|" +
         std::to_string(proxy.type) + "|" + proxy.host + "|" + std::to_string(proxy.port) + "|" +
         proxy.user + "|" + options.authUser;
}

}  // namespace pv
