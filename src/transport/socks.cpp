#include "transport/socks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/crypto.h>

#include <cstdio>
#include <optional>

#include "support/host_port.h"
#include "support/ip_literal.h"

namespace pv {
namespace {

constexpr unsigned char kSocks4Granted = 0x5A;
constexpr unsigned char kMethodNone = 0x00;
constexpr unsigned char kMethodPassword = 0x02;
constexpr unsigned char kNoAcceptableMethod = 0xFF;
constexpr unsigned char kAtypIpv4 = 0x01;
constexpr unsigned char kAtypDomain = 0x03;
constexpr unsigned char kAtypIpv6 = 0x04;

unsigned char Byte(std::string_view bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

std::string Hex(unsigned char value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

void PutPort(std::string& out, std::uint16_t port) {
  out += static_cast<char>(port >> 8);
  out += static_cast<char>(port & 0xFF);
}

SocksAnswer Incomplete(std::size_t need) { return {need, "", ""}; }
SocksAnswer Failed(std::string error) { return {0, std::move(error), ""}; }
SocksAnswer Malformed(const std::string& what) {
  return Failed("sent a malformed answer: " + what);
}

std::string Socks4CodeText(unsigned char code) {
  switch (code) {
    case 0x5B: return "request rejected or failed";
    case 0x5C: return "request rejected because the proxy cannot reach the client's identd";
    case 0x5D: return "request rejected because identd reports a different user id";
    default: return "unknown reply code";
  }
}

std::string Socks5ReplyText(unsigned char rep) {
  switch (rep) {
    case 1: return "general SOCKS server failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "TTL expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return "unassigned reply code";
  }
}

// BND.ADDR:BND.PORT of a complete CONNECT reply, for the transcript; "" when the proxy left
// it unset (0.0.0.0:0, as some do).
std::string BoundText(std::string_view reply) {
  const unsigned char atyp = Byte(reply, 3);
  const std::uint16_t port = static_cast<std::uint16_t>(Byte(reply, reply.size() - 2) << 8 |
                                                        Byte(reply, reply.size() - 1));
  if (port == 0) return "";
  std::string host;
  if (atyp == kAtypDomain) {
    for (char c : reply.substr(5, Byte(reply, 4))) host += (c > 0x20 && c < 0x7F) ? c : '?';
  } else {
    char text[INET6_ADDRSTRLEN] = "";
    ::inet_ntop(atyp == kAtypIpv4 ? AF_INET : AF_INET6, reply.data() + 4, text, sizeof text);
    host = text;
  }
  return HostPortText(host, port);
}

bool IsHostNameByte(char c) { return c > 0x20 && c < 0x7F; }

}  // namespace

SocksRequest BuildSocks4Connect(std::string_view ipv4, std::uint16_t port,
                                std::string_view userId) {
  const std::optional<Ipv4Bytes> address = ParseIpv4(ipv4);
  if (!address) {
    return {"", "SOCKS4 needs an IPv4 address (" + std::string(ipv4) + " is not one)"};
  }
  if (userId.find('\0') != std::string_view::npos) {
    return {"", "the SOCKS4 user id must not contain a NUL byte"};
  }
  std::string bytes{'\x04', '\x01'};
  PutPort(bytes, port);
  bytes.append(address->begin(), address->end());
  bytes.append(userId);
  bytes += '\0';
  return {bytes, ""};
}

SocksAnswer ParseSocks4Reply(std::string_view bytes) {
  if (bytes.size() >= 1 && Byte(bytes, 0) != 0) {
    const unsigned char version = Byte(bytes, 0);
    return Malformed("reply version " + std::to_string(version) + " instead of 0" +
                     (version == 5 ? " (a SOCKS5-only proxy?)" : ""));
  }
  if (bytes.size() >= 2 && Byte(bytes, 1) != kSocks4Granted) {
    const unsigned char code = Byte(bytes, 1);
    return Failed("refused: " + Socks4CodeText(code) + " (code " + Hex(code) + ")");
  }
  if (bytes.size() < 8) return Incomplete(8);
  return {};
}

std::string BuildSocks5Greeting(bool withPassword) {
  return {'\x05', '\x01', static_cast<char>(withPassword ? kMethodPassword : kMethodNone)};
}

SocksAnswer ParseSocks5MethodReply(std::string_view bytes, bool withPassword) {
  if (bytes.size() >= 1 && Byte(bytes, 0) != 5) {
    return Malformed("version " + std::to_string(Byte(bytes, 0)) + " instead of 5");
  }
  if (bytes.size() < 2) return Incomplete(2);
  const unsigned char method = Byte(bytes, 1);
  if (method == kNoAcceptableMethod) {
    return Failed(withPassword
                      ? "refused: no acceptable authentication method (user name and password "
                        "are not accepted)"
                      : "refused: no acceptable authentication method (it may require a user "
                        "name and password)");
  }
  const unsigned char offered = withPassword ? kMethodPassword : kMethodNone;
  if (method != offered) return Malformed("method " + Hex(method) + ", which was not offered");
  return {};
}

SocksRequest BuildSocks5Auth(std::string_view user, std::string_view password) {
  if (user.empty() || user.size() > 255) {
    return {"", "the SOCKS5 user name must be 1 to 255 bytes long (it has " +
                    std::to_string(user.size()) + ")"};
  }
  if (password.empty() || password.size() > 255) {
    return {"", "the SOCKS5 password must be 1 to 255 bytes long"};
  }
  std::string bytes{'\x01', static_cast<char>(user.size())};
  bytes.append(user);
  bytes += static_cast<char>(password.size());
  bytes.append(password);
  return {bytes, ""};
}

SocksAnswer ParseSocks5AuthReply(std::string_view bytes) {
  if (bytes.size() < 2) return Incomplete(2);
  // RFC 1929 says version 1; some proxies put the SOCKS version 5 there.
  if (Byte(bytes, 0) != 1 && Byte(bytes, 0) != 5) {
    return Malformed("authentication version " + std::to_string(Byte(bytes, 0)) + " instead of 1");
  }
  if (Byte(bytes, 1) != 0) {
    return Failed("rejected the user name or password (status " + std::to_string(Byte(bytes, 1)) +
                  ")");
  }
  return {};
}

SocksRequest BuildSocks5Connect(std::string_view host, std::uint16_t port) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  std::string bytes{'\x05', '\x01', '\x00'};
  if (const std::optional<Ipv4Bytes> v4 = ParseIpv4(host)) {
    bytes += static_cast<char>(kAtypIpv4);
    bytes.append(v4->begin(), v4->end());
  } else if (const std::optional<Ipv6Bytes> v6 = ParseIpv6(host)) {
    bytes += static_cast<char>(kAtypIpv6);
    bytes.append(v6->begin(), v6->end());
  } else {
    if (host.empty() || host.size() > 255) {
      return {"", "a host name for a SOCKS5 proxy must be 1 to 255 bytes long"};
    }
    for (char c : host) {
      if (!IsHostNameByte(c)) return {"", "\"" + std::string(host) + "\" is not a host name"};
    }
    bytes += static_cast<char>(kAtypDomain);
    bytes += static_cast<char>(host.size());
    bytes.append(host);
  }
  PutPort(bytes, port);
  return {bytes, ""};
}

SocksAnswer ParseSocks5ConnectReply(std::string_view bytes) {
  if (bytes.size() >= 1 && Byte(bytes, 0) != 5) {
    return Malformed("version " + std::to_string(Byte(bytes, 0)) + " instead of 5");
  }
  if (bytes.size() >= 2 && Byte(bytes, 1) != 0) {
    const unsigned char rep = Byte(bytes, 1);
    return Failed("refused: " + Socks5ReplyText(rep) + " (REP " + std::to_string(rep) + ")");
  }
  // Every complete reply has at least 7 bytes; the fifth tells a domain name's length.
  if (bytes.size() < 5) return Incomplete(5);
  std::size_t total = 0;
  switch (Byte(bytes, 3)) {
    case kAtypIpv4: total = 4 + 4 + 2; break;
    case kAtypIpv6: total = 4 + 16 + 2; break;
    case kAtypDomain: total = 4 + 1 + Byte(bytes, 4) + 2; break;
    default: return Malformed("address type " + std::to_string(Byte(bytes, 3)));
  }
  if (bytes.size() < total) return Incomplete(total);
  return {0, "", BoundText(bytes.substr(0, total))};
}

std::string SocksVersionName(ProxyTypeCode proxyType) {
  return proxyType == ProxySocks4 ? "SOCKS4" : "SOCKS5";
}

SocksPlan PlanSocksHandshake(const ProxySettings& proxy, std::string_view host,
                             std::uint16_t port) {
  SocksPlan plan;
  plan.type = proxy.type;
  SocksRequest connect;
  if (proxy.type == ProxySocks4) {
    connect = BuildSocks4Connect(host, port, proxy.user);
  } else if (IsSocks5(proxy.type)) {
    plan.greeting = BuildSocks5Greeting(proxy.type == ProxySocks5Auth);
    if (proxy.type == ProxySocks5Auth) {
      SocksRequest auth = BuildSocks5Auth(proxy.user, proxy.password);
      plan.auth = std::move(auth.bytes);
      plan.error = std::move(auth.error);
    }
    if (plan.error.empty()) connect = BuildSocks5Connect(host, port);
  } else {
    plan.error = "unknown proxy type " + std::to_string(proxy.type);
  }
  plan.connect = std::move(connect.bytes);
  if (plan.error.empty()) plan.error = std::move(connect.error);
  return plan;
}

namespace {

// A failed send or receive during the handshake, told as the proxy's failure.
NetError HandshakeFailure(const NetError& io, const std::string& who) {
  switch (io.kind) {
    case NetError::Kind::Timeout: return {io.kind, who + " did not answer in time"};
    case NetError::Kind::Closed:
      return {NetError::Kind::Proxy, who + " closed the connection during the handshake"};
    default: return {NetError::Kind::Proxy, who + ": " + io.text};
  }
}

// Sends a request and reads exactly the answer that `parse` describes.
template <typename Parse>
NetError Exchange(int fd, std::string_view request, Parse parse, const std::string& who,
                  Deadline deadline, SocksAnswer& answer) {
  if (NetError error = SendAll(fd, request, deadline)) return HandshakeFailure(error, who);
  std::string received;
  for (answer = parse(received); !answer.complete(); answer = parse(received)) {
    if (answer.need <= received.size()) return {NetError::Kind::Proxy, who + ": bad answer"};
    if (NetError error = ReceiveSome(fd, received, answer.need - received.size(), deadline)) {
      return HandshakeFailure(error, who);
    }
  }
  if (!answer.ok()) return {NetError::Kind::Proxy, who + " " + answer.error};
  return {};
}

struct WipeOnExit {
  std::string& secret;
  ~WipeOnExit() {
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
  }
};

}  // namespace

NetError RunSocksHandshake(int fd, SocksPlan& plan, std::string_view proxyName, Deadline deadline,
                           std::string& bound) {
  WipeOnExit wipe{plan.auth};
  if (!plan.error.empty()) return {NetError::Kind::Proxy, plan.error};
  const std::string who = SocksVersionName(plan.type) + " proxy " + std::string(proxyName);
  SocksAnswer answer;
  if (plan.type == ProxySocks4) {
    return Exchange(fd, plan.connect, ParseSocks4Reply, who, deadline, answer);
  }

  const bool withPassword = plan.type == ProxySocks5Auth;
  const auto parseMethod = [withPassword](std::string_view bytes) {
    return ParseSocks5MethodReply(bytes, withPassword);
  };
  if (NetError error = Exchange(fd, plan.greeting, parseMethod, who, deadline, answer)) {
    return error;
  }
  if (withPassword) {
    if (NetError error = Exchange(fd, plan.auth, ParseSocks5AuthReply, who, deadline, answer)) {
      return error;
    }
  }
  if (NetError error = Exchange(fd, plan.connect, ParseSocks5ConnectReply, who, deadline, answer)) {
    return error;
  }
  bound = answer.bound;
  return {};
}

}  // namespace pv
