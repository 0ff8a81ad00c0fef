#pragma once
// The sessions kept open between the mails of a spool run, by what they were opened for
// (address, port, TLS mode, HELO name, proxy, relay login), and the way a mail finds one: a
// kept session when there is one, a new one when there is none or the kept one went stale.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/session_driver.h"

namespace pv {

// Now, on the steady clock; tests pass one they move by hand.
using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

class SessionCache {
 public:
  static constexpr std::size_t kMaxSessions = 16;

  explicit SessionCache(SteadyClock clock = std::chrono::steady_clock::now);
  ~SessionCache();
  SessionCache(const SessionCache&) = delete;
  SessionCache& operator=(const SessionCache&) = delete;

  // The session kept under key, when there is one and it is ready for a mail; it leaves the
  // cache (a session that is no longer ready is dropped).
  std::unique_ptr<LiveSession> Take(const std::string& key);
  // Keeps a ready session under key (one that is not ready is dropped); past kMaxSessions the
  // oldest one is QUIT.
  void Keep(const std::string& key, std::unique_ptr<LiveSession> live);
  // QUITs the sessions unused for `idle` or longer, or all of them.
  void CloseIdle(std::chrono::milliseconds idle);
  void CloseAll();
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string key;
    std::chrono::steady_clock::time_point lastUsed;
    std::unique_ptr<LiveSession> live;
  };
  SteadyClock clock_;
  std::vector<Entry> entries_;
};

// Runs a mail on the session it finds; true when it ran on one.
using MailRunner = std::function<bool(LiveSession& live, bool reused)>;

struct SessionAttempt {
  bool delivered = false;  // the mail ran on a session: its recipients are settled
  std::string error;       // else why no session could be had
  std::int32_t condition = 0;
};

// Runs the mail on the session kept under key, or, when there is none or it went stale, on a
// new session to target (once more without TLS when opportunistic TLS failed in the
// handshake). The session is kept under key afterwards.
SessionAttempt RunOnSession(SessionCache& cache, const std::string& key, SessionTarget target,
                            const Connector& connect, const MailRunner& run,
                            Transcript& transcript);

}  // namespace pv
