#pragma once
// One TCP connection to an SMTP server, direct or through a SOCKS4/SOCKS5 proxy, that can turn
// into TLS (STARTTLS or implicit TLS). Every wait has a deadline.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/proxy_type.h"
#include "transport/transcript.h"

namespace pv {

struct ProxySettings {
  ProxyTypeCode type = ProxyNone;
  std::string host;  // IP literal or host name (resolved by the system resolver)
  std::uint16_t port = 1080;
  std::string user;
  std::string password;
};

struct NetError {
  enum class Kind { None, Timeout, Closed, Refused, Unreachable, Proxy, Tls, Other };
  Kind kind = Kind::None;
  std::string text;  // for people: "connection refused by 127.0.0.4:25", the proxy's answer, ...
  explicit operator bool() const { return kind != Kind::None; }
};

class Connection {
 public:
  // Connects to host:port. host is an IP literal; through SOCKS5 it may also be a host name,
  // which the proxy resolves. SOCKS4 needs an IPv4 address. The transcript notes the
  // connection and the proxy's answer (never the proxy password).
  static std::unique_ptr<Connection> Open(const std::string& host, std::uint16_t port,
                                          const ProxySettings& proxy,
                                          std::chrono::milliseconds timeout,
                                          Transcript& transcript, NetError& error);
  virtual ~Connection() = default;

  // Appends what arrives (at least one byte) to `out`.
  virtual NetError Read(std::string& out, std::chrono::milliseconds timeout) = 0;
  virtual NetError Write(std::string_view bytes, std::chrono::milliseconds timeout) = 0;
  // TLS handshake as the client; serverName goes into SNI and, with verifyPeer, must match the
  // certificate, which must chain to the system's trusted CAs (OpenSSL's default paths, so
  // SSL_CERT_FILE and SSL_CERT_DIR apply).
  virtual NetError StartTls(const std::string& serverName, bool verifyPeer,
                            std::chrono::milliseconds timeout) = 0;
  virtual bool tlsActive() const = 0;
  // "TLSv1.3 TLS_AES_256_GCM_SHA384, certificate verified" / "..., certificate not verified (...)".
  virtual std::string tlsDescription() const = 0;
  // "127.0.0.2:25" or "127.0.0.2:25 via SOCKS5 127.0.0.20:1081".
  virtual std::string peer() const = 0;
};

}  // namespace pv
