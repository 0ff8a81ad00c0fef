#include "transport/mx_fallback.h"

#include <optional>

#include "support/ip_literal.h"
#include "transport/result_condition.h"

namespace pv {
namespace {

RouteHosts Settled(RecipientOutcome outcome, std::string reply, std::int32_t condition) {
  return RouteHosts{{}, false, outcome, std::move(reply), condition};
}

// The addresses to connect to for a host. Through SOCKS5 a relay named by a host name goes to
// the proxy as that name, which the proxy resolves.
std::vector<std::string> HostAddresses(const std::string& host, bool relay,
                                       const ProxySettings& proxy, DnsResolver& resolver,
                                       Transcript& transcript, std::string& error) {
  if (IsIpLiteral(host)) return {host};
  if (relay && ProxyResolvesNames(proxy)) return {host};
  const AddressAnswer answer = resolver.LookupAddresses(host);
  transcript.Note(answer.text);
  if (answer.status != DnsStatus::Ok) error = "DNS: " + answer.text;
  std::vector<std::string> addresses = ReachableAddresses(answer.addresses, proxy);
  if (addresses.empty() && error.empty()) error = "no usable address for " + host;
  return addresses;
}

}  // namespace

RouteHosts HostsOfRoute(const Route& route, const RelaySettings& relay, DnsResolver& resolver,
                        Transcript& transcript) {
  RouteHosts found;
  found.found = true;
  if (route.relay) {
    found.hosts.push_back(RelayEndpoint(relay));
    return found;
  }
  const MxAnswer mx = resolver.LookupMx(route.domain);
  transcript.Note(mx.text);
  switch (mx.status) {
    case DnsStatus::Ok:
      for (const MxHost& host : mx.hosts) found.hosts.push_back({host.name, 25});
      return found;
    case DnsStatus::NoData:
      transcript.Note("no MX for " + route.domain + ": its own address is the mail exchanger");
      found.hosts.push_back({route.domain, 25});
      return found;
    case DnsStatus::NotFound:
      return Settled(RecipientOutcome::Permanent,
                     "domain " + route.domain + " does not exist (" + mx.text + ")",
                     kConditionDnsPermanent);
    case DnsStatus::NullMx:
      return Settled(RecipientOutcome::Permanent,
                     "domain " + route.domain + " accepts no mail (null MX)",
                     kConditionDnsPermanent);
    case DnsStatus::TempFail: break;
  }
  return Settled(RecipientOutcome::Temporary, "DNS: " + mx.text, kConditionDnsTemporary);
}

SessionAttempt TryHosts(const std::vector<Endpoint>& hosts, bool relay, const ProxySettings& proxy,
                        DnsResolver& resolver, Transcript& transcript,
                        const AddressAttempt& attempt) {
  SessionAttempt last{false, "no mail exchanger could be reached", kConditionConnection};
  // A host left alone for this run is the answer only when nothing else was tried: the mail
  // then waits untried.
  std::optional<SessionAttempt> resting;
  bool tried = false;
  for (const Endpoint& host : hosts) {
    std::string dnsError;
    const std::vector<std::string> addresses =
        HostAddresses(host.host, relay, proxy, resolver, transcript, dnsError);
    if (!dnsError.empty()) {
      last = {false, dnsError, kConditionDnsTemporary};
      tried = true;
    }
    for (const std::string& address : addresses) {
      SessionAttempt result = attempt(address, host.port, host.host);
      if (result.delivered) return result;
      if (result.condition == kConditionHostResting) {
        if (!resting) resting = std::move(result);
        continue;
      }
      tried = true;
      last = std::move(result);
    }
  }
  return resting && !tried ? *resting : last;
}

}  // namespace pv
