#include "platform/systemd_notifier.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace pv {
namespace {

// A status is one line: a line break would start another assignment.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// A datagram systemd must get: kept until it is sent. More would only pile up while systemd
// does not read; the oldest go first.
constexpr std::size_t kMaxPending = 8;

}  // namespace

ServiceNotifier::ServiceNotifier(std::string socketName) : socketName_(std::move(socketName)) {}

std::string ServiceNotifier::SocketFromEnvironment() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  return name == nullptr ? "" : name;
}

bool ServiceNotifier::Connect() {
  if (fd_.ok()) return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketName_.size() < 2 || socketName_.size() >= sizeof address.sun_path) return false;
  if (socketName_.front() != '/' && socketName_.front() != '@') return false;
  std::memcpy(address.sun_path, socketName_.data(), socketName_.size());
  socklen_t length = sizeof address;
  if (socketName_.front() == '@') {
    address.sun_path[0] = '\0';  // abstract: the name is the bytes given, no terminator
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketName_.size());
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  // Connected, so that poll tells when systemd's queue has room again.
  if (!fd.ok() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
    return false;
  fd_ = std::move(fd);
  return true;
}

ServiceNotifier::Outcome ServiceNotifier::Send(const std::string& message) {
  if (!Connect()) return Outcome::Lost;
  for (;;) {
    if (::send(fd_.get(), message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
      return Outcome::Sent;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) return Outcome::Full;
    // systemd went away (or was restarted): connect afresh the next time.
    fd_.Close();
    return Outcome::Lost;
  }
}

void ServiceNotifier::SendOrKeep(std::string message) {
  if (socketName_.empty()) return;
  // Kept ones go first: READY must not be overtaken by STOPPING.
  if (SendPending() && Send(message) != Outcome::Full) return;
  if (pending_.size() >= kMaxPending) pending_.pop_front();
  pending_.push_back(std::move(message));
}

void ServiceNotifier::Ready(const std::string& status) {
  SendOrKeep("READY=1\nSTATUS=" + OneLine(status));
}

void ServiceNotifier::Status(const std::string& status) {
  // Dropped when it cannot go at once, or while older ones wait.
  if (!socketName_.empty() && SendPending()) Send("STATUS=" + OneLine(status));
}

void ServiceNotifier::Stopping() { SendOrKeep("STOPPING=1"); }

bool ServiceNotifier::SendPending() {
  while (!pending_.empty()) {
    if (Send(pending_.front()) == Outcome::Full) return false;
    pending_.pop_front();
  }
  return true;
}

bool ServiceNotifier::FlushPending(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!SendPending()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd writable{fd_.get(), POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
  }
  return true;
}

}  // namespace pv
