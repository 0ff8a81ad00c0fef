// Many deliveries at once, end to end: the real `postvane service=1` against latency sinks
// that the tests start on loopback (tests/rig/smtp/latency_sink.py), which count the
// connections and log every message. par1.test and par2.test are the rig's DNS names for
// 127.0.1.1 and 127.0.1.2.
#include <dirent.h>
#include <signal.h>

#include <sstream>

#include "platform/control_channel.h"
#include "service_fixture.h"

namespace pv {
namespace {

#ifndef POSTVANE_RIG_DIR
#error "POSTVANE_RIG_DIR must name tests/rig"
#endif

constexpr const char* kRelay = "127.0.1.100:2525";

// One sink process and what its log says.
class LatencySink {
 public:
  struct Event {
    char kind = 0;
    double time = 0;
    int connection = 0;
    std::string a, b;  // C: the connections open; M: recipients, subject; R: recipient
  };

  LatencySink(const std::string& dir, const std::string& name, std::vector<std::string> args)
      : log_(dir + "/" + name + ".log") {
    const std::string ready = dir + "/" + name + ".ready";
    std::vector<std::string> argv = {"/usr/bin/python3",
                                     std::string(POSTVANE_RIG_DIR) + "/smtp/latency_sink.py",
                                     "--log", log_, "--ready", ready};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = test::SpawnProgram(argv, {}, dir + "/" + name + ".out");
    EXPECT_TRUE(test::WaitUntil([&] { return fs::exists(ready); })) << test::ReadWholeFile(dir + "/" + name + ".out");
  }
  ~LatencySink() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!test::WaitForExit(pid_, std::chrono::seconds(5))) {
      ::kill(pid_, SIGKILL);
      test::WaitForExit(pid_, std::chrono::seconds(5));
    }
  }
  LatencySink(const LatencySink&) = delete;
  LatencySink& operator=(const LatencySink&) = delete;

  std::vector<Event> Events(char kind) const {
    std::vector<Event> events;
    std::istringstream lines(test::ReadWholeFile(log_));
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> f;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
      if (f.size() < 3 || f[0][0] != kind) continue;
      f.resize(5);
      events.push_back({kind, std::stod(f[1]), std::stoi(f[2]), f[3], f[4]});
    }
    return events;
  }
  std::size_t Messages() const { return Events('M').size(); }
  int MostOpen() const {
    int most = 0;
    for (const Event& e : Events('C')) most = std::max(most, std::stoi(e.a));
    return most;
  }
  // How often each recipient was given a message.
  std::map<std::string, int> Deliveries() const {
    std::map<std::string, int> counts;
    for (const Event& e : Events('M')) ++counts[e.a];
    return counts;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
};

class ServiceParallelTest : public ServiceTest {
 protected:
  // n mails, the i-th to "<prefix><i>-<marker>@<domain>" with the subject tag "#<i>".
  std::vector<std::string> DropMails(int n, const std::string& prefix, const std::string& domain) {
    std::vector<std::string> recipients;
    for (int i = 0; i < n; ++i) {
      recipients.push_back(prefix + std::to_string(i) + "-" + marker_ + "@" + domain);
      Drop(prefix + std::to_string(i) + ".eml", Mail(recipients.back(), "", "#" + prefix + std::to_string(i)));
    }
    return recipients;
  }
  std::map<std::string, std::string> Relayed(std::map<std::string, std::string> keys) const {
    keys.insert({{"RelayHostName", kRelay}, {"RelaySecurity", "none"}, {"UpDelay", "3600"}});
    return keys;
  }
  std::size_t Claimed() const {
    const auto names = SpoolNames();
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& n) { return n.ends_with(".$$$"); });
  }
  // The spool directory's own order, which the spool run follows.
  std::vector<std::string> DirectoryOrder() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(spoolDir_.c_str());
    while (const dirent* entry = ::readdir(dir))
      if (std::string(entry->d_name).ends_with(".eml")) names.push_back(entry->d_name);
    ::closedir(dir);
    return names;
  }
  static void ExpectEachOnce(const LatencySink& sink, const std::vector<std::string>& recipients) {
    const std::map<std::string, int> counts = sink.Deliveries();
    EXPECT_EQ(counts.size(), recipients.size());
    for (const std::string& r : recipients) EXPECT_EQ(counts.count(r) ? counts.at(r) : 0, 1) << r;
  }
};

// Five lanes through a relay that takes 200 ms for each mail: never more than five
// connections, each kept for the next mail, every recipient served once, one whole log line
// per mail.
TEST_F(ServiceParallelTest, FiveConnectionsCarryFiftyMailsEachOnce) {
  LatencySink sink(dir_, "relay", {"--listen", kRelay, "--data-ms", "200"});
  const auto recipients = DropMails(50, "r", "x.test");
  StartSpooler(Relayed({{"MaxConnections", "5"}}));
  ASSERT_TRUE(WaitUntil([&] { return sink.Messages() >= 50 && SpoolEmpty(); },
                        std::chrono::seconds(60)));
  ExpectEachOnce(sink, recipients);
  EXPECT_LE(sink.MostOpen(), 5);
  EXPECT_GE(sink.MostOpen(), 2);
  EXPECT_LE(sink.Events('C').size(), 5u) << "sessions were not reused";
  EXPECT_EQ(CsvRowsWithCode("0").size(), 50u);
  StopSpooler();
}

// One connection: the mails go in the directory's order, over one session.
TEST_F(ServiceParallelTest, OneConnectionKeepsTheOrderAndTheSession) {
  LatencySink sink(dir_, "relay", {"--listen", kRelay});
  DropMails(12, "o", "x.test");
  std::vector<std::string> expected;
  for (const std::string& name : DirectoryOrder())
    expected.push_back(marker_ + "#" + name.substr(0, name.size() - 4));
  StartSpooler(Relayed({{"MaxConnections", "1"}}));
  ASSERT_TRUE(WaitUntil([&] { return sink.Messages() >= 12 && SpoolEmpty(); }));
  std::vector<std::string> subjects;
  for (const auto& e : sink.Events('M')) subjects.push_back(e.b);
  EXPECT_EQ(subjects, expected);
  EXPECT_EQ(sink.Events('C').size(), 1u);
  StopSpooler();
}

// PAUSE in the middle of a run: the mails in hand are finished, no other file is claimed,
// and CONTINUE delivers the rest, each once.
TEST_F(ServiceParallelTest, APauseFinishesTheMailsInHandAndClaimsNoOther) {
  LatencySink sink(dir_, "relay", {"--listen", kRelay, "--data-ms", "300"});
  const auto recipients = DropMails(40, "p", "x.test");
  StartSpooler(Relayed({{"MaxConnections", "4"}}));
  ASSERT_TRUE(WaitUntil([&] { return sink.Messages() >= 1; }));
  const std::string socket = dir_ + "/run/control";
  std::string error;
  ASSERT_EQ(SendControlRequest(socket, "PAUSE", error), "OK") << error;
  ASSERT_TRUE(WaitUntil([&] { return Claimed() == 0; }));
  const std::size_t delivered = sink.Messages();
  EXPECT_LT(delivered, 40u);
  EXPECT_EQ(SpoolNames().size(), 40u - delivered);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(sink.Messages(), delivered) << "a mail went out while paused";
  ASSERT_EQ(SendControlRequest(socket, "CONTINUE", error), "OK") << error;
  ASSERT_TRUE(WaitUntil([&] { return sink.Messages() >= 40 && SpoolEmpty(); },
                        std::chrono::seconds(60)));
  ExpectEachOnce(sink, recipients);
  StopSpooler();
}

// Straight to the mail exchangers: par1.test answers every RCPT with 451 after a second,
// par2.test at once. Two connections per host and six in all: the mails of par2.test are
// through before par1.test has refused its first, and every par1.test mail was tried once and
// rescheduled.
TEST_F(ServiceParallelTest, ADeferringHostDoesNotHoldUpAnotherHost) {
  LatencySink slow(dir_, "slow", {"--listen", "127.0.1.1:25", "--rcpt-ms", "1000",
                                  "--rcpt-reply", "451 4.3.0 try again later"});
  LatencySink fast(dir_, "fast", {"--listen", "127.0.1.2:25"});
  DropMails(12, "d", "par1.test");
  const auto fastRecipients = DropMails(6, "f", "par2.test");
  StartSpooler({{"UpDelay", "3600"}, {"MaxConnections", "6"}, {"MaxConnectionsPerHost", "2"}});
  ASSERT_TRUE(WaitUntil([&] { return slow.Events('R').size() >= 12 && fast.Messages() >= 6; },
                        std::chrono::seconds(60)));
  ExpectEachOnce(fast, fastRecipients);
  double lastFast = 0, firstRefusal = 1e300;
  for (const auto& e : fast.Events('M')) lastFast = std::max(lastFast, e.time);
  for (const auto& e : slow.Events('R')) firstRefusal = std::min(firstRefusal, e.time);
  EXPECT_LT(lastFast, firstRefusal);
  EXPECT_LE(slow.MostOpen(), 2);
  ASSERT_TRUE(WaitUntil([&] { return Claimed() == 0 && SpoolNames().size() == 12; }));
  for (const std::string& name : SpoolNames())
    EXPECT_NE(SpoolText(name).find("X-pvx-Retry: 1"), std::string::npos) << name;
  StopSpooler();
}

// A host that refuses every connection: three attempts in a row, then its other mails wait
// for the next run as they were, their attempts not counted and nothing logged for them.
TEST_F(ServiceParallelTest, AHostThatFailsThreeTimesIsLeftAloneForTheRun) {
  DropMails(10, "h", "f.test");  // its only MX, dead.c.test, refuses connections
  std::map<std::string, std::string> dropped;
  for (const std::string& name : SpoolNames()) dropped[name] = SpoolText(name);
  StartSpooler({{"UpDelay", "3600"}, {"MaxConnections", "4"}});
  WaitUntilIdle();  // the run is over
  EXPECT_EQ(Claimed(), 0u);
  EXPECT_EQ(CsvRowsWithCode("12").size(), 3u);
  int untouched = 0;
  for (const auto& [name, text] : dropped) untouched += SpoolText(name) == text;
  EXPECT_EQ(untouched, 7);
  EXPECT_EQ(SpoolNames().size(), 10u);
  StopSpooler();
}

}  // namespace
}  // namespace pv
