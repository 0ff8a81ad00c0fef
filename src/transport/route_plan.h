#pragma once
// Where a mail goes: one route per recipient domain, or one route through the relay host; the
// relay's endpoint and TLS choice; what the SOCKS proxy asks of the addresses; the identity of
// a session that a later mail may reuse.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/relay_security.h"
#include "transport/connection.h"
#include "transport/smtp_session.h"

namespace pv {

struct RelaySettings {
  std::string host;  // "" for direct delivery; host, host:port or [IPv6]:port
  std::string user;  // "" for no login
  std::string password;
  RelaySecurityMode tls = RelaySecurityMode::Auto;
};

struct Route {
  std::string domain;  // the recipients' domain, or the relay host
  bool relay = false;
  std::vector<std::size_t> members;  // the recipients' indexes, in the caller's list
};

struct PendingRecipient {
  std::size_t index;
  std::string address;
};

struct Endpoint {
  std::string host;
  std::uint16_t port = 25;
};

// The routes in the order their first recipient comes.
std::vector<Route> PlanRoutes(const std::vector<PendingRecipient>& pending,
                              const std::string& relayHost);
// The relay's host and port (25, or 465 for implicit TLS, unless the setting names one).
Endpoint RelayEndpoint(const RelaySettings& relay);
TlsMode TlsModeOf(RelaySecurityMode security);
// The session options for a route: the relay's TLS choice and login, or opportunistic TLS
// without a login; heloName and the timeouts come from base.
SmtpSessionOptions SessionOptionsFor(const Route& route, const RelaySettings& relay,
                                     SmtpSessionOptions base);
// The trimmed name, or "localhost.localdomain" when it is empty or holds a character that
// may not go into EHLO.
std::string ValidHeloName(const std::string& name);

// SOCKS5 resolves a relay's host name itself; SOCKS4 reaches IPv4 addresses only.
bool ProxyResolvesNames(const ProxySettings& proxy);
std::vector<std::string> ReachableAddresses(const std::vector<std::string>& addresses,
                                            const ProxySettings& proxy);

// Sessions with the same key may carry each other's mails.
std::string SessionKey(const Endpoint& address, const SmtpSessionOptions& options,
                       const ProxySettings& proxy);

}  // namespace pv
