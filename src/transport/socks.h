#pragma once
// SOCKS4 CONNECT and SOCKS5 CONNECT (RFC 1928) with user/password authentication (RFC 1929):
// pure builders and parsers of the handshake messages, and the handshake itself over a socket
// already connected to the proxy.
//
// Parsers take the bytes received so far and say how many they need in all, so the handshake
// reads exactly the proxy's answer and never a byte of what the server behind it sends next.
// Their error texts follow the proxy's name: "SOCKS5 proxy 127.0.0.20:1081 " + error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/connection.h"
#include "transport/socket_io.h"

namespace pv {

// A request to send, or why it cannot be built (a text that never contains the password).
struct SocksRequest {
  std::string bytes;
  std::string error;
};

// What the proxy's answer says so far.
struct SocksAnswer {
  std::size_t need = 0;  // > 0: incomplete; the answer takes this many bytes in all
  std::string error;     // "refused: connection refused (REP 5)", "sent a malformed answer: ..."
  std::string bound;     // SOCKS5 CONNECT: the address the proxy connects from ("1.2.3.4:5")
  bool complete() const { return need == 0; }
  bool ok() const { return need == 0 && error.empty(); }
};

// SOCKS4: VN 4, CD 1, port, IPv4 address, user id, NUL. Only an IPv4 literal can be sent.
SocksRequest BuildSocks4Connect(std::string_view ipv4, std::uint16_t port, std::string_view userId);
// The 8-byte reply: VN 0, CD 0x5A granted, 0x5B, 0x5C or 0x5D refused.
SocksAnswer ParseSocks4Reply(std::string_view bytes);

// Offers exactly one method: "no authentication" (0x00) or "username/password" (0x02).
std::string BuildSocks5Greeting(bool withPassword);
// VER 5 and the chosen method, which must be the one offered (0xFF: none acceptable).
SocksAnswer ParseSocks5MethodReply(std::string_view bytes, bool withPassword);
// RFC 1929: VER 1, ULEN, UNAME, PLEN, PASSWD; user and password of 1 to 255 bytes each.
SocksRequest BuildSocks5Auth(std::string_view user, std::string_view password);
// VER 1 and STATUS, 0 for success.
SocksAnswer ParseSocks5AuthReply(std::string_view bytes);
// CONNECT to an IPv4 or IPv6 literal (ATYP 1 or 4) or else a domain name the proxy resolves
// (ATYP 3, 1 to 255 bytes, no spaces or control characters).
SocksRequest BuildSocks5Connect(std::string_view host, std::uint16_t port);
// VER 5, REP, RSV, ATYP, BND.ADDR, BND.PORT. A refusal is complete after REP.
SocksAnswer ParseSocks5ConnectReply(std::string_view bytes);

// Every request of one handshake, built before any byte goes out, so that a target or a
// setting the proxy cannot take fails without contacting it.
struct SocksPlan {
  ProxyTypeCode type = ProxyNone;
  std::string greeting;  // SOCKS5
  std::string auth;      // SOCKS5 with user/password: holds the password
  std::string connect;
  std::string error;  // not empty: no handshake possible ("SOCKS4 needs an IPv4 address ...")
};
SocksPlan PlanSocksHandshake(const ProxySettings& proxy, std::string_view host, std::uint16_t port);

// "SOCKS4" or "SOCKS5" for a proxy type.
std::string SocksVersionName(ProxyTypeCode proxyType);

// Runs the plan over fd, a non-blocking socket connected to the proxy, so that fd then leads
// to the target. proxyName ("127.0.0.20:1081") goes into the error texts. Kind Proxy for every
// refusal, malformed answer or close by the proxy, Timeout at the deadline. Wipes plan.auth.
// `bound` receives the proxy's outgoing address when it told one.
NetError RunSocksHandshake(int fd, SocksPlan& plan, std::string_view proxyName, Deadline deadline,
                           std::string& bound);

}  // namespace pv
