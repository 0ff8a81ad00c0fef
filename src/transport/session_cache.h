#pragma once
// The sessions kept open between mails, shared by every delivery of a spool run and keyed by
// what they were opened for (address, port, TLS mode, HELO name, proxy, relay login); the
// limits on connections, in all and per host; and what each host did in this run. A mail
// finds a kept session when there is one, a new one when there is none or the kept one went
// stale; it waits while its host or the whole has no room, and a host that failed too often
// in a row gets no more mail until the run is over. Safe to use from several threads.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/session_driver.h"

namespace pv {

// Now, on the steady clock; tests pass one they move by hand.
using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

struct SessionLimits {
  std::size_t total = 100;   // connections open at once, kept ones included
  std::size_t perHost = 20;  // of them to one server (address and port)
};

// After this many failures in a row (a connection refused or timed out, a greeting refused,
// a session lost) a host is left alone until the run ends.
inline constexpr int kHostFailuresBeforeRest = 3;

class SessionCache;

// What a mail was granted for one host: a kept session, or the right to open a connection.
// Given back with Finish (or, unfinished, when it goes: a session in it is closed).
class SessionLease {
 public:
  enum class Result { Opened, OpenFailed, Ran };
  SessionLease() = default;
  SessionLease(SessionLease&& other) noexcept;
  SessionLease& operator=(SessionLease&&) = delete;
  ~SessionLease();

  // The host is resting: nothing was granted.
  bool resting() const { return cache_ == nullptr; }
  // The kept session granted, or null: a new connection may be opened.
  std::unique_ptr<LiveSession>& kept() { return kept_; }
  // A new connection came up and took the session to the point of a mail, in `took`: the host
  // is proven, other mails may open connections to it at once.
  void Opened(std::chrono::steady_clock::duration took);
  // The session the mail ran on (kept when it is still ready), or null when none could be
  // opened; then the failure counts against the host.
  void Finish(std::unique_ptr<LiveSession> live, Result result);

 private:
  friend class SessionCache;
  SessionCache* cache_ = nullptr;
  std::string key_;
  std::string host_;
  bool probing_ = false;  // the one opening allowed to a host not yet proven in this run
  std::unique_ptr<LiveSession> kept_;
};

class SessionCache {
 public:
  explicit SessionCache(SteadyClock clock = std::chrono::steady_clock::now);
  ~SessionCache();
  SessionCache(const SessionCache&) = delete;
  SessionCache& operator=(const SessionCache&) = delete;

  void SetLimits(SessionLimits limits);
  // Waits until the mail may go to host: a session kept under key, or room for a new
  // connection (an idle session of another key is QUIT to make it); the mails waiting for one
  // host get it in the order they asked. Where a new connection would cost another host its
  // idle session while this host's own are busy, it first waits as long as opening one took
  // the host last time, for one of them to come free. A host that has not yet taken a connection in this
  // run gets one opening at a time. Resting hosts grant nothing, at once.
  SessionLease Acquire(const std::string& key, const std::string& host);
  // QUITs the kept sessions unused for `idle` or longer, or all of them; CloseAll also
  // forgets what the hosts did: the run is over.
  void CloseIdle(std::chrono::milliseconds idle);
  void CloseAll();
  std::size_t size() const;        // sessions kept
  std::size_t connections() const;  // connections open or being opened, kept ones included

 private:
  friend class SessionLease;
  struct Entry {
    std::string key;
    std::string host;
    std::chrono::steady_clock::time_point lastUsed;
    std::unique_ptr<LiveSession> live;
  };
  struct Host {
    std::size_t open = 0;
    bool proven = false;  // a connection came up since the last failure
    bool probing = false;
    int failures = 0;     // in a row
    std::chrono::steady_clock::duration opening{};  // what the last new connection took
    std::deque<std::condition_variable*> waiting;  // the mails waiting, each woken alone
  };
  using Closing = std::vector<std::unique_ptr<LiveSession>>;

  void Release(SessionLease& lease, std::unique_ptr<LiveSession> live, SessionLease::Result result);
  void Prove(SessionLease& lease, std::chrono::steady_clock::duration took);
  bool Grant(SessionLease& lease, Host& host, bool patient, Closing& closing);
  bool BusyWithoutIdle(const std::string& host, const Host& state) const;
  bool MakeRoom(const std::string& host, std::size_t open, Closing& closing);
  bool EvictOldest(const std::function<bool(const Entry&)>& which, Closing& closing);
  void Forget(std::vector<Entry>::iterator entry, Closing& closing);
  // Only the first mail waiting for a host can be served: it alone is woken, not every lane.
  static void WakeFront(Host& host);
  void WakeFronts();
  static void QuitAll(Closing& closing);

  SteadyClock clock_;
  mutable std::mutex mutex_;
  SessionLimits limits_;
  std::size_t open_ = 0;
  std::vector<Entry> entries_;
  std::map<std::string, Host> hosts_;
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
// handshake). The session is kept under key afterwards. The host of the limits is target's
// address and port.
SessionAttempt RunOnSession(SessionCache& cache, const std::string& key, SessionTarget target,
                            const Connector& connect, const MailRunner& run,
                            Transcript& transcript);

}  // namespace pv
