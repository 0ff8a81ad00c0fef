#include "transport/session_cache.h"

namespace pv {

SessionCache::SessionCache(SteadyClock clock) : clock_(std::move(clock)) {}

SessionCache::~SessionCache() { CloseAll(); }

std::unique_ptr<LiveSession> SessionCache::Take(const std::string& key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->key != key) continue;
    std::unique_ptr<LiveSession> live = std::move(it->live);
    entries_.erase(it);
    if (live->session->ready()) return live;
    return nullptr;
  }
  return nullptr;
}

void SessionCache::Keep(const std::string& key, std::unique_ptr<LiveSession> live) {
  if (!live->session->ready()) return;
  entries_.push_back({key, clock_(), std::move(live)});
  if (entries_.size() > kMaxSessions) {
    QuitSession(*entries_.front().live);
    entries_.erase(entries_.begin());
  }
}

void SessionCache::CloseIdle(std::chrono::milliseconds idle) {
  const auto now = clock_();
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->lastUsed < idle) {
      ++it;
      continue;
    }
    QuitSession(*it->live);
    it = entries_.erase(it);
  }
}

void SessionCache::CloseAll() {
  for (Entry& entry : entries_) QuitSession(*entry.live);
  entries_.clear();
}

SessionAttempt RunOnSession(SessionCache& cache, const std::string& key, SessionTarget target,
                            const Connector& connect, const MailRunner& run,
                            Transcript& transcript) {
  if (std::unique_ptr<LiveSession> kept = cache.Take(key)) {
    transcript.Note("reusing the open session with " + kept->connection->peer());
    if (run(*kept, true)) {
      cache.Keep(key, std::move(kept));
      return {true, "", 0};
    }
    transcript.Note("the open session was closed by the server; connecting anew");
  }
  SessionOpening opening = OpenSession(connect, target, transcript);
  if (!opening.session && opening.retryWithoutTls) {
    transcript.Note("TLS handshake failed; trying " + target.address + " again without TLS");
    target.options.tls = TlsMode::Off;
    opening = OpenSession(connect, target, transcript);
  }
  if (!opening.session) return {false, opening.error, opening.condition};
  // Under the key it was looked up by: after a failed handshake the plain session is the one
  // that the next mail to this host takes.
  run(*opening.session, false);
  cache.Keep(key, std::move(opening.session));
  return {true, "", 0};
}

}  // namespace pv
