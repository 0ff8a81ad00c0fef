#pragma once
// Blocking-style I/O on a non-blocking socket: every call waits with poll() until a deadline.
// Writes use MSG_NOSIGNAL, so a peer that has gone away gives EPIPE, never SIGPIPE.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "transport/connection.h"

namespace pv {

using Deadline = std::chrono::steady_clock::time_point;

Deadline DeadlineAfter(std::chrono::milliseconds timeout);

// The error for an errno value, with the system's text: ECONNREFUSED Refused, ENETUNREACH and
// EHOSTUNREACH Unreachable, ECONNRESET and EPIPE Closed, ETIMEDOUT Timeout, anything else Other.
NetError ErrnoError(int err);

// Waits until fd is ready for `events` (POLLIN or POLLOUT). An error or hang-up on the socket
// counts as ready: the next call reports it. Kind Timeout ("timed out") at the deadline.
NetError WaitReady(int fd, short events, Deadline deadline);

// Sends every byte, waiting for room as needed.
NetError SendAll(int fd, std::string_view bytes, Deadline deadline);

// Appends at least one and at most `max` bytes to `out`. Kind Closed when the peer has closed.
NetError ReceiveSome(int fd, std::string& out, std::size_t max, Deadline deadline);

}  // namespace pv
