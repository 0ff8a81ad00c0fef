#include "transport/connection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "support/duration_text.h"
#include "support/host_port.h"
#include "support/unique_fd.h"
#include "transport/socket_io.h"
#include "transport/socks.h"
#include "transport/tls.h"

namespace pv {
namespace {

constexpr std::size_t kReadChunk = 4096;  // replies are short; a long one takes more reads

struct Endpoint {
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string text;  // "127.0.0.2:25", "[::1]:25"
};

std::string NumericHost(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST] = "";
  ::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
  return host;
}

// The addresses of host: an IP literal as it is, a name through the system's resolver.
std::vector<Endpoint> Resolve(std::string host, std::uint16_t port, NetError& error) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  std::vector<Endpoint> endpoints;
  if (rc != 0) {
    error = {NetError::Kind::Other, "cannot resolve " + host + ": " + ::gai_strerror(rc)};
    return endpoints;
  }
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    Endpoint endpoint;
    std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
    endpoint.length = entry->ai_addrlen;
    endpoint.text = HostPortText(NumericHost(entry->ai_addr, entry->ai_addrlen), port);
    endpoints.push_back(std::move(endpoint));
  }
  ::freeaddrinfo(found);
  return endpoints;
}

// One non-blocking connect, waited for until the deadline.
NetError ConnectTo(const Endpoint& endpoint, Deadline deadline, UniqueFd& out) {
  UniqueFd fd(::socket(endpoint.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.ok()) return ErrnoError(errno);
  // Every command and the message go out in whole writes; Nagle's algorithm would only hold
  // the last piece back until the server's delayed acknowledgement (some 40 ms a mail).
  const int noDelay = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  const auto* address = reinterpret_cast<const sockaddr*>(&endpoint.address);
  if (::connect(fd.get(), address, endpoint.length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return ErrnoError(errno);
    if (NetError error = WaitReady(fd.get(), POLLOUT, deadline)) return error;
    int err = 0;
    socklen_t size = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &size) != 0) err = errno;
    if (err != 0) return ErrnoError(err);
  }
  out = std::move(fd);
  return {};
}

// "connection refused by 127.0.0.4:25" and the like; `what` names the other end.
NetError ConnectFailure(const NetError& io, const std::string& what,
                        std::chrono::milliseconds timeout) {
  switch (io.kind) {
    case NetError::Kind::Timeout:
      return {io.kind, "no connection to " + what + " within " + DurationText(timeout)};
    case NetError::Kind::Refused: return {io.kind, "connection refused by " + what};
    case NetError::Kind::Unreachable: return {io.kind, what + " is unreachable: " + io.text};
    default: return {io.kind, "cannot connect to " + what + ": " + io.text};
  }
}

// Tries every address of host in turn until one connects or the deadline has passed.
// `what` names the other end in errors; `connected` receives the address that answered.
NetError ConnectAny(const std::string& host, std::uint16_t port, const std::string& what,
                    std::chrono::milliseconds timeout, Deadline deadline, UniqueFd& out,
                    std::string& connected) {
  NetError error;
  const std::vector<Endpoint> endpoints = Resolve(host, port, error);
  for (const Endpoint& endpoint : endpoints) {
    error = ConnectTo(endpoint, deadline, out);
    if (!error) {
      connected = endpoint.text;
      return {};
    }
    const std::string name = endpoints.size() > 1 ? what + " (" + endpoint.text + ")" : what;
    error = ConnectFailure(error, name, timeout);
    if (error.kind == NetError::Kind::Timeout) break;
  }
  return error;
}

class SocketConnection final : public Connection {
 public:
  SocketConnection(UniqueFd fd, std::string peer) : fd_(std::move(fd)), peer_(std::move(peer)) {}

  NetError Read(std::string& out, std::chrono::milliseconds timeout) override;
  NetError Write(std::string_view bytes, std::chrono::milliseconds timeout) override;
  NetError StartTls(const std::string& serverName, bool verifyPeer,
                    std::chrono::milliseconds timeout) override;
  bool tlsActive() const override { return tls_ != nullptr; }
  std::string tlsDescription() const override { return tls_ ? tls_->description() : ""; }
  std::string peer() const override { return peer_; }

 private:
  NetError Described(NetError error, const char* doing, std::chrono::milliseconds timeout) const;
  NetError Unusable() const;

  UniqueFd fd_;
  std::string peer_;
  std::unique_ptr<TlsSession> tls_;  // declared after fd_: ends before the socket closes
  // After a failed handshake the stream is in an unknown state: nothing more goes over it, so
  // that no command (an AUTH, say) can go out in plain text on it.
  bool tlsFailed_ = false;
};

NetError SocketConnection::Unusable() const {
  const std::string text = "the connection to " + peer_ + " failed its TLS handshake";
  return {NetError::Kind::Tls, text};
}

NetError SocketConnection::Described(NetError error, const char* doing,
                                     std::chrono::milliseconds timeout) const {
  switch (error.kind) {
    case NetError::Kind::None: return error;
    case NetError::Kind::Timeout:
      return {error.kind, doing + peer_ + " timed out after " + DurationText(timeout)};
    case NetError::Kind::Closed: return {error.kind, peer_ + " closed the connection"};
    default: return {error.kind, doing + peer_ + " failed: " + error.text};
  }
}

NetError SocketConnection::Read(std::string& out, std::chrono::milliseconds timeout) {
  if (tlsFailed_) return Unusable();
  const Deadline deadline = DeadlineAfter(timeout);
  NetError error = tls_ ? tls_->Read(out, kReadChunk, deadline)
                        : ReceiveSome(fd_.get(), out, kReadChunk, deadline);
  return Described(std::move(error), "reading from ", timeout);
}

NetError SocketConnection::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
  if (tlsFailed_) return Unusable();
  const Deadline deadline = DeadlineAfter(timeout);
  NetError error = tls_ ? tls_->Write(bytes, deadline) : SendAll(fd_.get(), bytes, deadline);
  return Described(std::move(error), "writing to ", timeout);
}

NetError SocketConnection::StartTls(const std::string& serverName, bool verifyPeer,
                                    std::chrono::milliseconds timeout) {
  if (tlsFailed_) return Unusable();
  if (tls_) return {NetError::Kind::Tls, "TLS is already active on " + peer_};
  NetError error;
  tls_ = TlsSession::Connect(fd_.get(), serverName, verifyPeer, DeadlineAfter(timeout), error);
  tlsFailed_ = !tls_;
  if (error.kind == NetError::Kind::Timeout) error.text += " (" + DurationText(timeout) + ")";
  return error;
}

std::unique_ptr<Connection> OpenDirect(const std::string& host, std::uint16_t port,
                                       std::chrono::milliseconds timeout, Deadline deadline,
                                       Transcript& transcript, NetError& error) {
  const std::string target = HostPortText(host, port);
  transcript.Note("connecting to " + target);
  UniqueFd fd;
  std::string connected;
  error = ConnectAny(host, port, target, timeout, deadline, fd, connected);
  if (error) {
    transcript.Note(error.text);
    return nullptr;
  }
  transcript.Note("connected to " + connected);
  return std::make_unique<SocketConnection>(std::move(fd), connected);
}

// Failing to reach the proxy is the proxy's failure (kind Proxy): the next mail server would
// go through the same proxy. Only a deadline stays Timeout.
NetError ProxyConnectFailure(NetError error) {
  if (error.kind != NetError::Kind::Timeout) error.kind = NetError::Kind::Proxy;
  return error;
}

std::unique_ptr<Connection> OpenViaProxy(const std::string& host, std::uint16_t port,
                                         const ProxySettings& proxy,
                                         std::chrono::milliseconds timeout, Deadline deadline,
                                         Transcript& transcript, NetError& error) {
  const std::string target = HostPortText(host, port);
  const std::string proxyName = HostPortText(proxy.host, proxy.port);
  const std::string via = SocksVersionName(proxy.type) + " proxy " + proxyName;
  const bool withUser =
      proxy.type == ProxySocks5Auth || (proxy.type == ProxySocks4 && !proxy.user.empty());
  transcript.Note("connecting to " + target + " via " + via +
                  (withUser ? " (user " + proxy.user + ")" : ""));
  SocksPlan plan = PlanSocksHandshake(proxy, host, port);
  UniqueFd fd;
  std::string connected, bound;
  if (!plan.error.empty()) {
    error = {NetError::Kind::Proxy, plan.error};
  } else if ((error = ConnectAny(proxy.host, proxy.port, via, timeout, deadline, fd, connected))) {
    error = ProxyConnectFailure(std::move(error));
  } else if ((error = RunSocksHandshake(fd.get(), plan, proxyName, deadline, bound))) {
    if (error.kind == NetError::Kind::Timeout) error.text += " (" + DurationText(timeout) + ")";
  }
  if (error) {
    transcript.Note(error.text);
    return nullptr;
  }
  transcript.Note("connected to " + target + " via " + via +
                  (bound.empty() ? "" : " (the proxy connects from " + bound + ")"));
  const std::string peer = target + " via " + SocksVersionName(proxy.type) + " " + proxyName;
  return std::make_unique<SocketConnection>(std::move(fd), peer);
}

}  // namespace

std::unique_ptr<Connection> Connection::Open(const std::string& host, std::uint16_t port,
                                             const ProxySettings& proxy,
                                             std::chrono::milliseconds timeout,
                                             Transcript& transcript, NetError& error) {
  error = {};
  if (!IsProxyTypeCode(proxy.type)) {
    error = {NetError::Kind::Other, "unknown proxy type " + std::to_string(proxy.type)};
    transcript.Note(error.text);
    return nullptr;
  }
  const Deadline deadline = DeadlineAfter(timeout);
  if (proxy.type == ProxyNone) return OpenDirect(host, port, timeout, deadline, transcript, error);
  return OpenViaProxy(host, port, proxy, timeout, deadline, transcript, error);
}

}  // namespace pv
