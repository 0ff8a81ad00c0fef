#include "transport/session_cache.h"

#include <algorithm>
#include <utility>

#include "support/exit_codes.h"

namespace pv {

SessionLease::SessionLease(SessionLease&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)),
      key_(std::move(other.key_)),
      host_(std::move(other.host_)),
      probing_(other.probing_),
      kept_(std::move(other.kept_)) {}

SessionLease::~SessionLease() {
  // Given up half way (an exception): the connection, if any, is closed and counts nothing.
  if (cache_ != nullptr) cache_->Release(*this, nullptr, Result::Ran);
}

void SessionLease::Opened(std::chrono::steady_clock::duration took) {
  if (cache_ != nullptr) cache_->Prove(*this, took);
}

void SessionLease::Finish(std::unique_ptr<LiveSession> live, Result result) {
  if (cache_ == nullptr) return;
  cache_->Release(*this, std::move(live), result);
  cache_ = nullptr;
}

SessionCache::SessionCache(SteadyClock clock) : clock_(std::move(clock)) {}

void SessionCache::WakeFront(Host& host) {
  if (!host.waiting.empty()) host.waiting.front()->notify_one();
}

void SessionCache::WakeFronts() {
  for (auto& [name, host] : hosts_) WakeFront(host);
}

SessionCache::~SessionCache() { CloseAll(); }

void SessionCache::SetLimits(SessionLimits limits) {
  const std::lock_guard lock(mutex_);
  limits_.total = std::max<std::size_t>(limits.total, 1);
  limits_.perHost = std::max<std::size_t>(limits.perHost, 1);
  WakeFronts();
}

// An idle session's QUIT belongs to no mail's protocol.
void SessionCache::QuitAll(Closing& closing) {
  for (std::unique_ptr<LiveSession>& live : closing) {
    Transcript unrecorded;
    live->session->SetTranscript(unrecorded);
    QuitSession(*live);
  }
  closing.clear();
}

void SessionCache::Forget(std::vector<Entry>::iterator entry, Closing& closing) {
  --hosts_[entry->host].open;
  --open_;
  closing.push_back(std::move(entry->live));
  entries_.erase(entry);
}

bool SessionCache::EvictOldest(const std::function<bool(const Entry&)>& which, Closing& closing) {
  // Kept in the order they were last used: the first match is the oldest.
  const auto entry = std::find_if(entries_.begin(), entries_.end(), which);
  if (entry == entries_.end()) return false;
  Forget(entry, closing);
  return true;
}

// Room for one more connection to host, made by closing idle sessions where the limits are
// reached: one of the same host (kept under another key) for the host's limit, for the total
// one of the host that keeps the most.
bool SessionCache::MakeRoom(const std::string& host, std::size_t open, Closing& closing) {
  if (open >= limits_.perHost &&
      !EvictOldest([&](const Entry& e) { return e.host == host; }, closing))
    return false;
  if (open_ < limits_.total) return true;
  // The host with the most idle sessions can best spare one; of those, its oldest.
  std::map<std::string, std::size_t> idle;
  for (const Entry& e : entries_) ++idle[e.host];
  const auto spare = std::max_element(idle.begin(), idle.end(), [](const auto& a, const auto& b) {
    return a.second < b.second;
  });
  return spare != idle.end() &&
         EvictOldest([&](const Entry& e) { return e.host == spare->first; }, closing);
}

// Every connection the host has is in use: none idle, at least one open.
bool SessionCache::BusyWithoutIdle(const std::string& name, const Host& host) const {
  return host.open > 0 && std::none_of(entries_.begin(), entries_.end(),
                                       [&](const Entry& e) { return e.host == name; });
}

bool SessionCache::Grant(SessionLease& lease, Host& host, bool patient, Closing& closing) {
  const auto kept = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const Entry& e) { return e.key == lease.key_; });
  if (kept != entries_.end()) {
    lease.kept_ = std::move(kept->live);
    entries_.erase(kept);  // still counted: it is in use now
    return true;
  }
  if (!host.proven && host.probing) return false;
  if (patient && open_ >= limits_.total && BusyWithoutIdle(lease.host_, host)) return false;
  if (!MakeRoom(lease.host_, host.open, closing)) return false;
  ++host.open;
  ++open_;
  lease.probing_ = !host.proven;
  host.probing = lease.probing_;
  return true;
}

SessionLease SessionCache::Acquire(const std::string& key, const std::string& hostName) {
  SessionLease lease;
  lease.key_ = key;
  lease.host_ = hostName;
  Closing closing;
  {
    std::unique_lock lock(mutex_);
    Host& host = hosts_[hostName];
    std::condition_variable wakeUp;
    host.waiting.push_back(&wakeUp);
    const auto patience = std::chrono::steady_clock::now() + host.opening;
    bool granted = false;
    for (;;) {
      const bool patient = std::chrono::steady_clock::now() < patience;
      if (host.failures >= kHostFailuresBeforeRest ||
          (granted = host.waiting.front() == &wakeUp && Grant(lease, host, patient, closing)))
        break;
      if (patient)
        wakeUp.wait_until(lock, patience);
      else
        wakeUp.wait(lock);
    }
    host.waiting.erase(std::find(host.waiting.begin(), host.waiting.end(), &wakeUp));
    if (granted) lease.cache_ = this;
    WakeFront(host);  // the next mail for this host may be served now
  }
  QuitAll(closing);
  return lease;
}

void SessionCache::Prove(SessionLease& lease, std::chrono::steady_clock::duration took) {
  const std::lock_guard lock(mutex_);
  Host& host = hosts_[lease.host_];
  host.opening = took;
  host.failures = 0;
  host.proven = true;
  if (lease.probing_) host.probing = false;
  lease.probing_ = false;
  WakeFront(host);
}

void SessionCache::Release(SessionLease& lease, std::unique_ptr<LiveSession> live,
                           SessionLease::Result result) {
  Closing closing;
  {
    const std::lock_guard lock(mutex_);
    Host& host = hosts_[lease.host_];
    if (lease.probing_) host.probing = false;
    const bool ready = live != nullptr && live->session->ready();
    if (result == SessionLease::Result::OpenFailed || (live != nullptr && !ready)) {
      ++host.failures;
      host.proven = false;
    } else if (ready) {
      host.failures = 0;
      host.proven = true;
    }
    if (ready && open_ <= limits_.total) {
      entries_.push_back({lease.key_, lease.host_, clock_(), std::move(live)});
    } else {
      --host.open;
      --open_;
      if (ready) closing.push_back(std::move(live));  // the limit was lowered meanwhile
    }
    WakeFronts();
  }
  QuitAll(closing);  // a session that is not ready closes with `live`, without a word
}

void SessionCache::CloseIdle(std::chrono::milliseconds idle) {
  Closing closing;
  {
    const std::lock_guard lock(mutex_);
    const auto now = clock_();
    while (EvictOldest([&](const Entry& e) { return now - e.lastUsed >= idle; }, closing)) {
    }
    WakeFronts();
  }
  QuitAll(closing);
}

void SessionCache::CloseAll() {
  Closing closing;
  {
    const std::lock_guard lock(mutex_);
    while (EvictOldest([](const Entry&) { return true; }, closing)) {
    }
    for (auto it = hosts_.begin(); it != hosts_.end();) {
      if (it->second.open == 0 && it->second.waiting.empty()) {
        it = hosts_.erase(it);
        continue;
      }
      it->second.failures = 0;
      it->second.proven = false;
      ++it;
    }
    WakeFronts();
  }
  QuitAll(closing);
}

std::size_t SessionCache::size() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t SessionCache::connections() const {
  const std::lock_guard lock(mutex_);
  return open_;
}

SessionAttempt RunOnSession(SessionCache& cache, const std::string& key, SessionTarget target,
                            const Connector& connect, const MailRunner& run,
                            Transcript& transcript) {
  const std::string host = target.address + ":" + std::to_string(target.port);
  SessionLease lease = cache.Acquire(key, host);
  if (lease.resting()) {
    const std::string why = host + " failed " + std::to_string(kHostFailuresBeforeRest) +
                            " times in a row in this run: not tried again before the next run";
    transcript.Note(why);
    return {false, why, kConditionHostResting};
  }
  if (std::unique_ptr<LiveSession> kept = std::move(lease.kept())) {
    kept->session->SetTranscript(transcript);
    transcript.Note("reusing the open session with " + kept->connection->peer());
    if (run(*kept, true)) {
      lease.Finish(std::move(kept), SessionLease::Result::Ran);
      return {true, "", 0};
    }
    // Its place is taken over by the new connection.
    transcript.Note("the open session was closed by the server; connecting anew");
  }
  const auto openingStarted = std::chrono::steady_clock::now();
  SessionOpening opening = OpenSession(connect, target, transcript);
  if (!opening.session && opening.retryWithoutTls) {
    transcript.Note("TLS handshake failed; trying " + target.address + " again without TLS");
    target.options.tls = TlsMode::Off;
    opening = OpenSession(connect, target, transcript);
  }
  if (!opening.session) {
    lease.Finish(nullptr, SessionLease::Result::OpenFailed);
    return {false, opening.error, opening.condition};
  }
  lease.Opened(std::chrono::steady_clock::now() - openingStarted);
  // Under the key it was looked up by: after a failed handshake the plain session is the one
  // that the next mail to this host takes.
  run(*opening.session, false);
  lease.Finish(std::move(opening.session), SessionLease::Result::Opened);
  return {true, "", 0};
}

}  // namespace pv
