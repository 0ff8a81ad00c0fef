#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>

#include "engine/spool_queue.h"
#include "support/unique_fd.h"
#include "temp_dir.h"

namespace pv {
namespace {

using Names = std::vector<std::string>;

const LocalDateTime kNow = LocalDateTime::Now();

std::string Mail(const std::string& control = "") {
  return "From: a@x.test\r\nTo: b@y.test, c@z.test\r\nSubject: Hi\r\nMime-Version: 1.0\r\n" +
         control + "\r\nbody\r\n";
}

std::string Later() {
  bool error = false;
  return "X-pvx-Retry: 3\r\nX-pvx-SendAfter: " + FormatIsoDateTime(kNow.AddMinutes(60), error) +
         "\r\n";
}

TEST(SpoolQueue, StateOfANameByItsForm) {
  const struct { const char* name; bool queued; QueueState state; } cases[] = {
      {"a.eml", true, QueueState::Waiting},
      {"a.eml.hold", true, QueueState::Held},
      {"a.eml.error", true, QueueState::Error},
      {"a.$$$", true, QueueState::InHand},
      {".a.eml.tmp12-3", false, QueueState::Waiting},  // a writer's temp file
      {"a.txt", false, QueueState::Waiting},
  };
  for (const auto& c : cases) {
    QueueState state = QueueState::Waiting;
    EXPECT_EQ(QueueStateOfName(c.name, "*.eml", state), c.queued) << c.name;
    if (c.queued) {
      EXPECT_EQ(state, c.state) << c.name;
    }
  }
  // A pattern that takes held names too: such a name is a spool name.
  QueueState state = QueueState::Held;
  EXPECT_TRUE(QueueStateOfName("a.hold", "*.hold", state));
  EXPECT_EQ(state, QueueState::Waiting);
}

TEST(SpoolQueue, EntryFieldsFromSpoolTexts) {
  bool error = false;
  const std::string later = FormatIsoDateTime(kNow.AddMinutes(60), error);
  const struct {
    std::string text;
    QueueState in, out;
    std::string recipients, next;
    int attempts;
  } cases[] = {
      {Mail(), QueueState::Waiting, QueueState::Due, "b@y.test, c@z.test", "", 0},
      {Mail(Later()), QueueState::Waiting, QueueState::Waiting, "b@y.test, c@z.test", later, 3},
      {Mail("X-pvx-SuccessAddresses: b@y.test\r\n" + Later()), QueueState::Waiting,
       QueueState::Waiting, "c@z.test", later, 3},
      {Mail("X-pvx-RefusedAddresses: c@z.test (550 no)\r\nX-pvx-SendAfter: 2001-01-01T00:00:00\r\n"),
       QueueState::Waiting, QueueState::Due, "b@y.test", "", 0},
      {"From: a@x.test\nTo: b@y.test, c@z.test\nSubject: Hi\n\nbody\n", QueueState::InHand,
       QueueState::InHand, "b@y.test, c@z.test", "", 0},
  };
  for (const auto& c : cases) {
    QueueEntry entry;
    entry.state = c.in;
    FillQueueEntry(c.text, kNow, entry);
    EXPECT_EQ(entry.state, c.out) << c.text;
    EXPECT_EQ(entry.sender, "a@x.test") << c.text;
    EXPECT_EQ(entry.subject, "Hi") << c.text;
    EXPECT_EQ(entry.recipients, c.recipients) << c.text;
    EXPECT_EQ(entry.nextAttempt, c.next) << c.text;
    EXPECT_EQ(entry.attempts, c.attempts) << c.text;
  }
}

// A spool directory with a mail of every state: waiting (due in an hour), due, held, one whose
// lock the test holds (as a spool run or a writer would), a working file and an error file.
class SpoolQueueDirectory : public ::testing::Test {
 protected:
  SpoolQueueDirectory() : queue(dir / "*.eml") {
    Put("waiting.eml", Mail(Later()));
    Put("due.eml", Mail());
    Put("held.eml.hold", Mail(Later()));
    Put("locked.eml", Mail(Later()));
    Put("working.$$$", Mail());
    Put("set-aside.eml.error", Mail());
    lock = UniqueFd(::open((dir / "locked.eml").c_str(), O_RDONLY));
    EXPECT_EQ(::flock(lock.get(), LOCK_EX), 0);
  }

  void Put(const std::string& name, const std::string& text) { test::WriteFile(dir / name, text); }
  Names Files() const {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string StateOf(const std::string& name) const {
    bool ok = false;
    for (const QueueEntry& entry : queue.List(kNow, ok))
      if (entry.name == name) return std::string(QueueStateName(entry.state));
    return "absent";
  }

  test::TempDir dir;
  SpoolQueue queue;
  UniqueFd lock;
};

TEST_F(SpoolQueueDirectory, ListShowsEveryMailWithItsState) {
  bool ok = false;
  const std::vector<QueueEntry> entries = queue.List(kNow, ok);
  EXPECT_TRUE(ok);
  Names listed;
  for (const QueueEntry& e : entries)
    listed.push_back(e.name + ": " + std::string(QueueStateName(e.state)));
  EXPECT_EQ(listed, (Names{"due.eml: due", "held.eml.hold: held", "locked.eml: in hand",
                           "set-aside.eml.error: error", "waiting.eml: waiting",
                           "working.$$$: in hand"}));
  EXPECT_EQ(entries.back().size, static_cast<std::int64_t>(Mail().size()));
  bool missing = true;
  SpoolQueue(dir / "none/*.eml").List(kNow, missing);
  EXPECT_FALSE(missing);
}

TEST_F(SpoolQueueDirectory, EachToolRefusesTheMailsInHand) {
  const std::string inHand[] = {"locked.eml", "working.$$$"};
  for (const std::string& name : inHand) {
    EXPECT_FALSE(queue.Delete(name).ok) << name;
    EXPECT_FALSE(queue.Hold(name).ok) << name;
    EXPECT_FALSE(queue.Release(name).ok) << name;
    EXPECT_FALSE(queue.RetryNow(name, kNow).ok) << name;
  }
  EXPECT_FALSE(queue.Delete("set-aside.eml.error").ok);
  EXPECT_FALSE(queue.Delete("gone.eml").ok);
  EXPECT_FALSE(queue.RetryNow("held.eml.hold", kNow).ok);
  EXPECT_EQ(Files(), (Names{"due.eml", "held.eml.hold", "locked.eml", "set-aside.eml.error",
                            "waiting.eml", "working.$$$"}));
}

TEST_F(SpoolQueueDirectory, DeleteHoldAndReleaseMoveOnlyTheirMail) {
  const QueueResult deleted = queue.Delete("due.eml");
  EXPECT_TRUE(deleted.ok) << deleted.text;
  EXPECT_TRUE(queue.Delete("held.eml.hold").ok);
  EXPECT_EQ(StateOf("due.eml"), "absent");

  // A held name taken by another mail: the next numbered one; released, it keeps that number.
  Put("waiting.eml.hold", Mail());
  const QueueResult held = queue.Hold("waiting.eml");
  EXPECT_TRUE(held.ok) << held.text;
  EXPECT_EQ(StateOf("waiting.2.eml.hold"), "held");
  EXPECT_TRUE(queue.Release("waiting.eml.hold").ok);
  EXPECT_TRUE(queue.Release("waiting.2.eml.hold").ok);
  EXPECT_EQ(test::ReadFile(dir / "waiting.2.eml"), Mail(Later()));  // unchanged
  EXPECT_EQ(test::ReadFile(dir / "waiting.eml"), Mail());
  EXPECT_EQ(Files(), (Names{"locked.eml", "set-aside.eml.error", "waiting.2.eml",
                            "waiting.eml", "working.$$$"}));
  // The private names of the deletes left nothing behind (the listing above); only a held
  // mail is released, and a held name a pattern would take is never made.
  EXPECT_FALSE(queue.Release("waiting.eml").ok);
  EXPECT_FALSE(SpoolQueue(dir / "*.hold").Hold("x.hold").ok);
}

TEST_F(SpoolQueueDirectory, ResolveTakesNamesAndPathsInsideTheSpoolOnly) {
  std::string error;
  EXPECT_EQ(queue.Resolve("waiting.eml", error), "waiting.eml");
  EXPECT_EQ(queue.Resolve(dir / "waiting.eml", error), "waiting.eml");
  EXPECT_EQ(queue.Resolve(dir.path() + "/./waiting.eml", error), "waiting.eml");
  const std::string refused[] = {"/etc/passwd", dir / "../waiting.eml", "notes.txt", ".x.eml",
                                 "", ".."};
  for (const std::string& argument : refused) {
    error.clear();
    EXPECT_EQ(queue.Resolve(argument, error), "") << argument;
    EXPECT_FALSE(error.empty()) << argument;
  }
}

}  // namespace
}  // namespace pv
