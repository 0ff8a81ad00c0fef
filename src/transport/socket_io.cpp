#include "transport/socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pv {

Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
  return std::chrono::steady_clock::now() + timeout;
}

NetError ErrnoError(int err) {
  char buffer[256];
  // GNU strerror_r: returns the text, which need not be in `buffer`.
  std::string text = ::strerror_r(err, buffer, sizeof buffer);
  switch (err) {
    case ECONNREFUSED: return {NetError::Kind::Refused, text};
    case ENETUNREACH:
    case EHOSTUNREACH: return {NetError::Kind::Unreachable, text};
    case ECONNRESET:
    case EPIPE: return {NetError::Kind::Closed, text};
    case ETIMEDOUT: return {NetError::Kind::Timeout, text};
    default: return {NetError::Kind::Other, text};
  }
}

NetError WaitReady(int fd, short events, Deadline deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {NetError::Kind::Timeout, "timed out"};
    pollfd entry{fd, events, 0};
    const int rc = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (rc > 0) return {};
    if (rc < 0 && errno != EINTR) return ErrnoError(errno);
  }
}

NetError SendAll(int fd, std::string_view bytes, Deadline deadline) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ErrnoError(errno);
    if (NetError error = WaitReady(fd, POLLOUT, deadline)) return error;
  }
  return {};
}

NetError ReceiveSome(int fd, std::string& out, std::size_t max, Deadline deadline) {
  const std::size_t before = out.size();
  out.resize(before + max);
  for (;;) {
    const ssize_t n = ::recv(fd, out.data() + before, max, 0);
    if (n > 0) {
      out.resize(before + static_cast<std::size_t>(n));
      return {};
    }
    if (n == 0) {
      out.resize(before);
      return {NetError::Kind::Closed, "connection closed by the peer"};
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      out.resize(before);
      return ErrnoError(errno);
    }
    if (NetError error = WaitReady(fd, POLLIN, deadline)) {
      out.resize(before);
      return error;
    }
  }
}

}  // namespace pv
