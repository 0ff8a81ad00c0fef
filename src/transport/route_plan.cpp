#include "transport/route_plan.h"

#include <algorithm>
#include <map>

#include "support/host_port.h"
#include "support/ip_literal.h"
#include "support/text.h"
#include "transport/recipients.h"

namespace pv {

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
  // host, host:port, [IPv6]:port, or a bare IPv6 address; a port that is no port is ignored.
  const HostPortParts parts = SplitHostPort(Trim(relay.host), ColonRule::BareIpv6);
  Endpoint endpoint;
  endpoint.host = std::string(parts.bracketed ? parts.host : Trim(parts.host));
  const std::uint16_t defaultPort = relay.tls == RelaySecurityMode::Tls ? 465 : 25;
  endpoint.port = ParsePortNumber(Trim(parts.port)).value_or(defaultPort);
  return endpoint;
}

TlsMode TlsModeOf(RelaySecurityMode security) {
  switch (security) {
    case RelaySecurityMode::StartTls: return TlsMode::Required;
    case RelaySecurityMode::Tls: return TlsMode::Implicit;
    case RelaySecurityMode::None: return TlsMode::Off;
    case RelaySecurityMode::Auto: break;
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

bool ProxyResolvesNames(const ProxySettings& proxy) { return IsSocks5(proxy.type); }

std::vector<std::string> ReachableAddresses(const std::vector<std::string>& addresses,
                                            const ProxySettings& proxy) {
  std::vector<std::string> reachable;
  for (const std::string& address : addresses)
    if (proxy.type != ProxySocks4 || IsIpv4Literal(address)) reachable.push_back(address);
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
