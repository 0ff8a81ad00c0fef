#pragma once
// The hosts of a route in the order they are tried (the mail exchangers by preference, the
// domain itself when it has no MX, or the relay), each host's addresses in turn, until one
// takes the mail.
#include <functional>
#include <string>
#include <vector>

#include "transport/connection.h"
#include "transport/dns.h"
#include "transport/route_plan.h"
#include "transport/session_cache.h"
#include "transport/transcript.h"

namespace pv {

struct RouteHosts {
  std::vector<Endpoint> hosts;
  bool found = false;  // else the route's pending recipients are settled with what follows
  RecipientOutcome outcome = RecipientOutcome::Temporary;
  std::string reply;
  std::int32_t condition = 0;
};

RouteHosts HostsOfRoute(const Route& route, const RelaySettings& relay, DnsResolver& resolver,
                        Transcript& transcript);

// Tries address:port (host is the name it came from); see RunOnSession.
using AddressAttempt = std::function<SessionAttempt(
    const std::string& address, std::uint16_t port, const std::string& host)>;

// Tries each host's addresses in turn until one attempt delivers; else the last failure.
SessionAttempt TryHosts(const std::vector<Endpoint>& hosts, bool relay, const ProxySettings& proxy,
                        DnsResolver& resolver, Transcript& transcript,
                        const AddressAttempt& attempt);

}  // namespace pv
