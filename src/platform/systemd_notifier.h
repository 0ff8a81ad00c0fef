#pragma once
// Tells systemd how the service is doing over $NOTIFY_SOCKET (READY=1, STATUS=..., STOPPING=1)
// without ever blocking the caller: every datagram is sent with MSG_DONTWAIT. When systemd does
// not read and its queue is full, a STATUS is dropped (a newer one follows), while READY and
// STOPPING are kept and sent again by SendPending until systemd takes them. Without
// NOTIFY_SOCKET every call does nothing.
#include <chrono>
#include <deque>
#include <string>

#include "support/unique_fd.h"

namespace pv {

class ServiceNotifier {
 public:
  // socketName: a path, or "@name" for an abstract socket; "" for none.
  explicit ServiceNotifier(std::string socketName);
  // The socket named by $NOTIFY_SOCKET.
  static std::string SocketFromEnvironment();

  void Ready(const std::string& status);
  void Status(const std::string& status);
  void Stopping();

  // Sends what is kept, oldest first, as far as the socket takes it; true when nothing is left.
  bool SendPending();
  bool HasPending() const { return !pending_.empty(); }
  // Sends what is kept, waiting at most `limit` for systemd to make room; true when all went.
  bool FlushPending(std::chrono::milliseconds limit);

 private:
  enum class Outcome { Sent, Full, Lost };
  Outcome Send(const std::string& message);
  void SendOrKeep(std::string message);
  bool Connect();

  std::string socketName_;
  UniqueFd fd_;
  std::deque<std::string> pending_;
};

}  // namespace pv
