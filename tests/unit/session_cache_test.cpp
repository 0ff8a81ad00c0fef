// The session cache against a scripted fake server: idle sessions are QUIT by the clock, a
// stale kept session gives way to a new one, the limits make mails wait or close idle
// sessions, and a failing host rests. (The plain retry after a failed handshake and a refused
// connection: wire_test.cpp and delivery_test.cpp; many deliveries at once against real
// servers: service_parallel_test.cpp.)
#include "transport/session_cache.h"

#include "support/exit_codes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>


namespace pv {
namespace {

using namespace std::chrono_literals;

// What one fake server saw and how it behaves.
struct FakeServer {
  bool offerStartTls = false;
  bool tlsFails = false;
  bool closed = false;  // the server has gone: every read and write fails
  std::string pending = "220 fake ESMTP\r\n";
  std::string seen;
  bool inData = false;
  int quits = 0;
  int mails = 0;
};

class FakeConnection : public Connection {
 public:
  explicit FakeConnection(std::shared_ptr<FakeServer> server) : s_(std::move(server)) {}
  NetError Read(std::string& out, std::chrono::milliseconds) override {
    if (s_->closed) return {NetError::Kind::Closed, "closed by the server"};
    if (s_->pending.empty()) return {NetError::Kind::Timeout, "no reply"};
    out += std::exchange(s_->pending, "");
    return {};
  }
  NetError Write(std::string_view bytes, std::chrono::milliseconds) override {
    if (s_->closed) return {NetError::Kind::Closed, "closed by the server"};
    s_->seen += bytes;
    s_->pending += Answer(bytes);
    return {};
  }
  NetError StartTls(const std::string&, bool, std::chrono::milliseconds) override {
    if (s_->tlsFails) return {NetError::Kind::Tls, "handshake failed"};
    return {};
  }
  bool tlsActive() const override { return false; }
  std::string tlsDescription() const override { return "fake TLS"; }
  std::string peer() const override { return "fake:25"; }

 private:
  std::string Answer(std::string_view bytes) {
    if (s_->inData) {
      s_->inData = false;
      ++s_->mails;
      return "250 queued\r\n";
    }
    std::string replies;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t end = bytes.find("\r\n", at);
      const std::string_view line = bytes.substr(at, end - at);
      at = end == std::string_view::npos ? bytes.size() : end + 2;
      if (line.starts_with("EHLO"))
        replies += s_->offerStartTls ? "250-fake\r\n250 STARTTLS\r\n" : "250 fake\r\n";
      else if (line.starts_with("STARTTLS")) replies += "220 go ahead\r\n";
      else if (line.starts_with("DATA")) replies += "354 go\r\n", s_->inData = true;
      else if (line.starts_with("QUIT")) replies += "221 bye\r\n", ++s_->quits;
      else replies += "250 ok\r\n";
    }
    return replies;
  }
  std::shared_ptr<FakeServer> s_;
};

// Hands out connections to the servers in turn; counts the connects.
struct FakeNetwork {
  std::vector<std::shared_ptr<FakeServer>> servers;
  std::atomic<std::size_t> connects = 0;
  std::function<void()> duringConnect;  // runs inside the first connect

  Connector connector() {
    return [this](const std::string&, std::uint16_t, NetError& error) -> std::unique_ptr<Connection> {
      const std::size_t n = connects++;
      if (n == 0 && duringConnect) duringConnect();
      if (n >= servers.size()) {
        error = {NetError::Kind::Refused, "connection refused"};
        return nullptr;
      }
      return std::make_unique<FakeConnection>(servers[n]);
    };
  }
};

struct Fixture {
  std::chrono::steady_clock::time_point now{};
  FakeNetwork network;
  SessionCache cache{[this] { return now; }};
  SessionTarget target{"192.0.2.1", 25, "mx.example", {"client.example", TlsMode::Opportunistic, "", "", 5min, 10min}};

  // Each with a protocol of its own, as each delivery has.
  SessionAttempt Send(bool* reusedOut = nullptr, const std::function<void()>& during = nullptr,
                      const std::string& key = "key") {
    Transcript transcript;
    return RunOnSession(
        cache, key, target, network.connector(),
        [&](LiveSession& live, bool reused) {
          if (reusedOut) *reusedOut = reused;
          if (during) during();
          auto data = std::make_shared<const std::string>("Subject: t\r\n\r\nhi\r\n.\r\n");
          return RunMail(live, SmtpMail{"a@example.org", {"b@example.net"}, data, false, ""}, reused);
        },
        transcript);
  }
};

TEST(SessionCacheTest, IdleSessionsAreQuitByTheClock) {
  struct Row {
    std::chrono::seconds age, idle;
    bool closed;
  };
  for (const Row& row : {Row{6s, 5s, true}, Row{5s, 5s, true}, Row{4s, 5s, false}}) {
    Fixture f;
    f.network.servers = {std::make_shared<FakeServer>()};
    ASSERT_TRUE(f.Send().delivered);
    f.now += row.age;
    f.cache.CloseIdle(row.idle);
    EXPECT_EQ(f.network.servers[0]->quits, row.closed ? 1 : 0) << row.age.count();
    EXPECT_EQ(f.cache.size(), row.closed ? 0u : 1u) << row.age.count();
  }
}

TEST(SessionCacheTest, KeptSessionIsReusedOrReplacedWhenStale) {
  struct Row {
    const char* name;
    bool keptGoesAway;
    std::size_t connects;
    bool secondReused;
    int secondServerMails;
  };
  for (const Row& row : {Row{"healthy kept session", false, 1, true, 0},
                         Row{"stale kept session", true, 2, false, 1}}) {
    Fixture f;
    f.network.servers = {std::make_shared<FakeServer>(), std::make_shared<FakeServer>()};
    ASSERT_TRUE(f.Send().delivered) << row.name;
    f.network.servers[0]->closed = row.keptGoesAway;
    bool reused = false;
    const SessionAttempt second = f.Send(&reused);
    EXPECT_TRUE(second.delivered) << row.name;
    EXPECT_EQ(f.network.connects, row.connects) << row.name;
    EXPECT_EQ(reused, row.secondReused) << row.name;
    EXPECT_EQ(f.network.servers[0]->mails, row.keptGoesAway ? 1 : 2) << row.name;
    EXPECT_EQ(f.network.servers[1]->mails, row.secondServerMails) << row.name;
    EXPECT_EQ(f.cache.size(), 1u) << row.name;
  }
}

}  // namespace
}  // namespace pv

namespace pv {
namespace {

TEST(SessionCacheTest, AHostThatFailsThreeTimesInARowRestsUntilTheRunEnds) {
  Fixture f;  // no server: every connection is refused
  for (int i = 0; i < kHostFailuresBeforeRest; ++i)
    EXPECT_EQ(f.Send().condition, kConditionConnection);
  EXPECT_EQ(f.Send().condition, kConditionHostResting);
  EXPECT_EQ(f.network.connects, 3u);
  f.cache.CloseAll();  // the run is over
  EXPECT_EQ(f.Send().condition, kConditionConnection);
  EXPECT_EQ(f.network.connects, 4u);
}

TEST(SessionCacheTest, TheTotalLimitClosesTheOldestIdleSessionForANewHost) {
  Fixture f;
  f.cache.SetLimits({1, 1});
  f.network.servers = {std::make_shared<FakeServer>(), std::make_shared<FakeServer>()};
  ASSERT_TRUE(f.Send().delivered);
  f.target.address = "192.0.2.2";
  ASSERT_TRUE(f.Send(nullptr, nullptr, "other key").delivered);
  EXPECT_EQ(f.network.servers[0]->quits, 1);
  EXPECT_EQ(f.cache.connections(), 1u);
}

// A second mail for a host while the first holds its only connection (busy with a mail, or
// still being opened): with room for one connection per host, or before the host's first
// connection came up, it does not connect; with room for two it opens its own.
TEST(SessionCacheTest, ASecondMailWaitsForTheBusyConnectionOrOpensItsOwn) {
  struct Row {
    const char* name;
    bool inConnect;  // the first is held while it connects, else while its mail runs
    std::size_t perHost;
    std::size_t connects;  // when the first is let go
  };
  for (const Row& row : {Row{"limit 1", false, 1, 1}, Row{"first connection", true, 5, 1},
                         Row{"limit 2", false, 2, 2}}) {
    Fixture f;
    f.cache.SetLimits({10, row.perHost});
    f.network.servers = {std::make_shared<FakeServer>(), std::make_shared<FakeServer>(),
                         std::make_shared<FakeServer>()};
    std::atomic<bool> held = false, release = false;
    const auto hold = [&] {
      held = true;
      while (!release) std::this_thread::sleep_for(1ms);
    };
    if (row.inConnect) {
      f.network.duringConnect = hold;
    } else {
      ASSERT_TRUE(f.Send().delivered) << row.name;  // the host is proven, its session kept
    }
    const std::function<void()> duringMail = row.inConnect ? std::function<void()>() : hold;
    std::thread first([&] { f.Send(nullptr, duringMail); });
    while (!held) std::this_thread::sleep_for(1ms);
    std::thread second([&] { f.Send(); });
    // Room for two: the second connects while the first is held. Else it must not within the
    // time given.
    const auto until = std::chrono::steady_clock::now() + (row.connects == 2 ? 5s : 50ms);
    while (f.network.connects < 2 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(1ms);
    EXPECT_EQ(f.network.connects, row.connects) << row.name;
    release = true;
    first.join();
    second.join();
  }
}

}  // namespace
}  // namespace pv
