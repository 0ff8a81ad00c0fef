#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <sys/file.h>

#include "engine/give_up.h"
#include "engine/spool_engine.h"
#include "support/base64.h"
#include "support/textfile.h"
#include "support/unique_fd.h"
#include "temp_dir.h"

namespace pv {
namespace {

using Names = std::vector<std::string>;

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 12, 6, 12, 0, 0);
constexpr const char* kProtocol = "S: 550 unknown user";

std::string Mail(const std::string& extra = "", const std::string& to = "b@y.test") {
  return "From: a@x.test\r\nTo: " + to + "\r\nSubject: Hi\r\nMime-Version: 1.0\r\n" + extra +
         "\r\nbody\r\n";
}

bool Holds(const std::string& text, std::string_view piece) {
  return text.find(piece) != std::string::npos;
}

// The decoded content of the attachment of that name in a composed mail.
std::string Base64Of(const std::string& mail, const std::string& attachmentName) {
  const std::size_t name = mail.find("filename=\"" + attachmentName + "\"");
  const std::size_t start = mail.find("\r\n\r\n", name);
  const std::size_t end = mail.find("\r\n--", start);
  Bytes decoded;
  if (name == std::string::npos || start == std::string::npos || end == std::string::npos ||
      !Base64Decode(std::string_view(mail).substr(start + 4, end - start - 4), decoded)) {
    return "";
  }
  return decoded;
}

// Reports as "code: message".
class RecordingReporter : public ResultReporter {
 public:
  void ReportResult(ResultKind, const std::string&, const std::string&, const std::string&,
                    std::int32_t code, const std::string& message, const std::string&) override {
    reports.push_back(std::to_string(code) + ": " + message);
  }
  Names reports;
};

// A spool directory of its own and a delivery that answers as told, without a server.
class SpoolEngineTest : public ::testing::Test {
 protected:
  SpoolEngineTest() {
    settings.DefaultExtension = "eml";
    settings.SpoolFilePattern = dir / "*.eml";
    settings.RetryInterval = std::string(kDefaultRetryInterval);
    settings.MaxConnections = 1;  // one file after the other; the lanes have tests of their own
  }

  SpoolEngine Engine() {
    SpoolEnvironment env{state, transport, reporter, notifier, [this] { return settings; },
                         nullptr, "test"};
    env.now = [this] { return now; };
    env.deliver = [this](const std::string& recipients, const std::string& mailText,
                         std::string& protocol, std::string& served, std::string& refused,
                         const DeliveryContext&) {
      attempts.push_back(recipients);
      mailTexts.push_back(mailText);
      protocol = kProtocol;
      served = serve;
      refused = refuse;
      if (duringDelivery) duringDelivery();
      return deliverOk;
    };
    return SpoolEngine(std::move(env));
  }
  bool Process(const std::string& name) { return Engine().ProcessSpoolFile(dir / name); }

  void Reset() {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
    reporter.reports.clear();
    attempts.clear();
    mailTexts.clear();
  }
  void Put(const std::string& name, const std::string& text) { test::WriteFile(dir / name, text); }
  std::string Get(const std::string& name) const { return test::ReadFile(dir / name); }
  SpoolFile Parsed(const std::string& name) const {
    std::string text, encoding = "ansi-1031";
    IoError error;
    SpoolFile file;
    if (ReadTextFile(dir / name, text, error, encoding)) ParseSpoolText(text, kNow, file);
    return file;
  }
  // The return mail spooled under a.eml: its envelope, its text and its two attachments.
  void ExpectReturnMail(const std::string& from, const std::string& to, std::string_view text,
                        const std::string& attachment, const std::string& protocol) const {
    ASSERT_EQ(List(), Names{"a.eml"});
    const SpoolFile mail = Parsed("a.eml");
    EXPECT_EQ(mail.Subject, kReturnMailSubject);
    EXPECT_EQ(mail.From, from);
    EXPECT_EQ(mail.To, to);
    EXPECT_TRUE(mail.IsReturnMail);
    EXPECT_TRUE(Holds(mail.Content, text));
    EXPECT_TRUE(Holds(mail.Content, "filename=\"Protocol.txt\""));
    // The protocol's first 45 bytes: 60 Base64 characters, shorter than any line of it.
    EXPECT_TRUE(Holds(mail.Content, Base64Encode(protocol.substr(0, 45))));
    EXPECT_TRUE(Holds(mail.Content, "filename=\"" + attachment + "\""));
  }
  Names List() const {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir;
  SpoolRunState state;
  MailTransport transport;
  RecordingReporter reporter;
  SilentNotifier notifier;
  SpoolerSettings settings;
  LocalDateTime now = kNow;
  bool deliverOk = false;
  std::string serve, refuse;  // what the delivery reports as served and refused
  std::function<void()> duringDelivery;
  Names attempts;
  Names mailTexts;
};

TEST_F(SpoolEngineTest, WhereOneFileEndsUp) {
  struct Row {
    const char* what;
    std::string text;
    bool delivered;  // the result, and whether a delivery was attempted
    Names left;      // the files left, the last the file as it was
  };
  const Row rows[] = {
      {"send-after reached", Mail("X-pvx-SendAfter: 2026-12-06T12:00:00\r\n"), true, {}},
      {"send-after ahead", Mail("X-pvx-SendAfter: 2026-12-06T12:00:01\r\n"), false, {"a.eml"}},
      {"error mime", Mail("x-PVX-iserrormime: 1\r\n"), false, {"a.eml"}},
      {"empty file", "", false, {"a.$$$"}},
      {"working name taken", Mail(), false, {"a.$$$", "a.eml"}},
  };
  deliverOk = true;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    if (row.left.size() == 2) Put("a.$$$", "another mail");
    Put("a.eml", row.text);
    EXPECT_EQ(Process("a.eml"), row.delivered);
    EXPECT_EQ(attempts.size(), row.delivered ? 1u : 0u);
    EXPECT_EQ(List(), row.left);
    if (!row.left.empty()) {
      EXPECT_EQ(Get(row.left.back()), row.text);
    }
    EXPECT_TRUE(reporter.reports.empty());
  }
  EXPECT_EQ(Get("a.$$$"), "another mail");
}

// A return mail goes out with the null reverse path: service_test.cpp.
// A failed attempt rewrites the control headers after the others and keeps every other byte.
TEST_F(SpoolEngineTest, RewriteKeepsTheBytesOfTheFile) {
  const std::string headers =
      "From: a@x.test\r\nTo: b@y.test\r\nSubject: Hi\r\nMime-Version: 1.0\r\n"
      "Date: Sun, 6 Dec 2026 11:00:00 +0100\r\nMessage-ID: <1@x.test>";
  const std::string old = "\r\nX-PVX-RETRY: 0\r\nX-pvx-SendAfter: 2026-01-01T00:00:00\r\n\r\n";
  const std::string added = "\r\nX-pvx-SuccessAddresses: \r\nX-pvx-Retry: 1\r\n"
                            "X-pvx-SendAfter: 2026-12-06T12:10:00\r\n\r\n";
  // Code page 1252 (0x81 has no character there), and UTF-8 with its mark.
  for (const std::string lead : {"", "\xEF\xBB\xBF"}) {
    const std::string body = lead.empty() ? "Gr\xFC\xDF" "e \x81" : "\xD0\x9F\xD1\x80 \xE2\x82\xAC";
    Reset();
    Put("a.eml", lead + headers + old + body);
    EXPECT_FALSE(Process("a.eml"));
    EXPECT_EQ(Get("a.eml"), lead + headers + added + body);
  }
}

TEST_F(SpoolEngineTest, GivingUpReturnsTheMail) {
  struct Row {
    const char* what;
    std::string headers;
    std::string defaultReturnTo;
    std::string returnTo;  // "": rescheduled; "-": set aside
  };
  const Row rows[] = {
      {"attempts left", "X-pvx-Retry: 7\r\nX-pvx-ReturnTo: r@x.test\r\n", "d@x.test", ""},
      {"ninth failure", "X-pvx-Retry: 8\r\nX-pvx-ReturnTo: r@x.test\r\n", "d@x.test", "r@x.test"},
      {"default return address", "X-pvx-Retry: 8\r\n", "d@x.test", "d@x.test"},
      {"no return address", "X-pvx-Retry: 8\r\n", "", "-"},
  };
  settings.MaxRetryCount = 9;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    settings.DefaultReturnTo = row.defaultReturnTo;
    Put("a.eml", Mail(row.headers));
    EXPECT_FALSE(Process("a.eml"));
    EXPECT_TRUE(reporter.reports.empty());  // giving up adds no report of its own
    if (row.returnTo.empty()) {
      EXPECT_EQ(List(), Names{"a.eml"});
      EXPECT_EQ(Parsed("a.eml").RetryCount, 8);
    } else if (row.returnTo == "-") {
      ASSERT_EQ(List(), Names{"a.eml.error"});
      EXPECT_EQ(Parsed("a.eml.error").RetryCount, 9);
    } else {
      ExpectReturnMail("a@x.test", row.returnTo, kFailedForGoodText, "Mime.eml", kProtocol);
    }
  }
}

TEST_F(SpoolEngineTest, InvalidFiles) {
  struct Row {
    const char* what;
    std::string text;
    std::string report;  // with the path in place of "P"
    std::string defaultReturnTo;
  };
  const Row rows[] = {
      {"no From", "To: b@y.test\r\nSubject: Hi\r\nMime-Version: 1.0\r\n\r\nx",
       "23: Invalid Mime File 'P'. 'From' field can not be empty.", "d@x.test"},
      {"no Mime-Version", "From: a@x.test\r\nTo: b@y.test\r\nSubject: Hi\r\n\r\nx",
       "26: Invalid Mime File 'P'. 'Mime-Version' field can not be empty.", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    settings.DefaultReturnTo = row.defaultReturnTo;
    Put("a.eml", row.text);
    EXPECT_FALSE(Process("a.eml"));
    std::string report = row.report;
    report.replace(report.find("'P'"), 3, "'" + (dir / "a.eml") + "'");
    EXPECT_EQ(reporter.reports, Names{report});
    if (row.defaultReturnTo.empty()) {
      EXPECT_EQ(List(), Names{"a.eml.error"});
      EXPECT_EQ(Get("a.eml.error"), row.text);  // as read, without new control headers
    } else {
      ExpectReturnMail(row.defaultReturnTo, row.defaultReturnTo, kInvalidFileText, "data.bin",
                       report.substr(4));
    }
  }
  EXPECT_TRUE(attempts.empty());
}

TEST_F(SpoolEngineTest, AMailDroppedUnderTheSameNameIsKeptAndTheOtherGoesToAFreeName) {
  struct Row {
    const char* what;
    std::string headers;
    int code;
    bool returnMail;  // what waits under the free name
  };
  const Row rows[] = {
      {"rewrite", "", 18, false},
      {"return mail", "X-pvx-Retry: 8\r\nX-pvx-ReturnTo: r@x.test\r\n", 22, true},
  };
  duringDelivery = [this] {
    Put("a.eml", "newcomer");
    Put("a.2.eml", "an earlier newcomer");
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    Put("a.eml", Mail(row.headers));
    EXPECT_FALSE(Process("a.eml"));
    EXPECT_EQ(List(), (Names{"a.2.eml", "a.3.eml", "a.eml"}));
    EXPECT_EQ(Get("a.eml"), "newcomer");
    EXPECT_EQ(Get("a.2.eml"), "an earlier newcomer");
    const SpoolFile moved = Parsed("a.3.eml");
    EXPECT_EQ(moved.IsReturnMail, row.returnMail);
    EXPECT_EQ(moved.RetryCount, row.returnMail ? 0 : 1);
    EXPECT_EQ(reporter.reports,
              Names{std::to_string(row.code) + ": '" + (dir / "a.eml") +
                    "' was taken by another mail meanwhile; this mail now waits as '" +
                    (dir / "a.3.eml") + "'."});
  }
}

TEST_F(SpoolEngineTest, ScanTakesMatchingFilesAndStopsWhenPaused) {
  deliverOk = true;
  for (const char* name : {"a.eml", "b.EML", ".c.eml", "d.txt"}) Put(name, Mail());
  std::filesystem::create_directory(dir / "e.eml");
  EXPECT_EQ(Engine().ScanSpoolDirectory(settings.SpoolFilePattern), 2);
  EXPECT_EQ(List(), (Names{".c.eml", "d.txt", "e.eml"}));

  Put("a.eml", Mail());
  Put("b.eml", Mail());
  duringDelivery = [this] { state.Paused = true; };  // the file in hand is finished
  EXPECT_EQ(Engine().ScanSpoolDirectory(settings.SpoolFilePattern), 1);
  EXPECT_EQ(List().size(), 4u);
}

TEST(LaneCountTest, RelayHostLimitsTheLanesAndFilesCapThem) {
  SpoolerSettings settings;  // 100 in all, 20 per host
  EXPECT_EQ(LaneCount(settings, 500), 100u);
  EXPECT_EQ(LaneCount(settings, 7), 7u);
  EXPECT_EQ(LaneCount(settings, 0), 1u);
  settings.RelayHostName = "relay.example";
  EXPECT_EQ(LaneCount(settings, 500), 20u);
  settings.MaxConnections = 1;
  EXPECT_EQ(LaneCount(settings, 500), 1u);
}

// Four lanes: the fake delivery holds every file until four are in hand at once, so the test
// fails (by timing out) unless the lanes really run side by side. The pause set then lets the
// four finish and touches no other file.
TEST_F(SpoolEngineTest, LanesHoldSeveralFilesAndAPauseFinishesThem) {
  settings.MaxConnections = 4;
  for (int i = 0; i < 10; ++i) Put("m" + std::to_string(i) + ".eml", Mail());
  std::mutex mutex;
  std::condition_variable allIn;
  int inHand = 0;
  SpoolEnvironment env{state, transport, reporter, notifier, [this] { return settings; },
                       nullptr, "test"};
  env.now = [this] { return now; };
  env.deliver = [&](const std::string&, const std::string&, std::string&, std::string& served,
                    std::string&, const DeliveryContext&) {
    std::unique_lock lock(mutex);
    ++inHand;
    state.Paused = inHand == 4;
    allIn.notify_all();
    EXPECT_TRUE(allIn.wait_for(lock, std::chrono::seconds(20), [&] { return inHand >= 4; }));
    served = "b@y.test";
    return true;
  };
  SpoolEngine engine(std::move(env));
  EXPECT_EQ(engine.ScanSpoolDirectory(settings.SpoolFilePattern), 4);
  EXPECT_EQ(inHand, 4);
  EXPECT_EQ(List().size(), 6u);  // untouched, under their spool names
  for (const std::string& name : List()) EXPECT_TRUE(name.ends_with(".eml")) << name;
}

TEST(LaneScheduleTest, AFullDestinationParksOldestFirstWithinTheBound) {
  using Schedule = LaneSchedule<int>;
  Schedule schedule(1, 2, 1000);
  auto mail = [](int n) { return std::make_unique<int>(n); };
  std::unique_ptr<int> m = mail(1);
  EXPECT_EQ(schedule.Enter("a", m, 10), Schedule::Entry::Start);
  for (int n : {2, 3}) {
    m = mail(n);
    EXPECT_EQ(schedule.Enter("a", m, 10), Schedule::Entry::Parked);
  }
  m = mail(4);
  EXPECT_EQ(schedule.Enter("b", m, 10), Schedule::Entry::Start);  // another host has room
  m = mail(5);
  EXPECT_EQ(schedule.Enter("a", m, 10), Schedule::Entry::Full);
  EXPECT_EQ(*schedule.Leave("a", true), 2);
  EXPECT_EQ(schedule.Leave("a", false), nullptr);  // paused: no hand-over
  schedule.WaitForRoom("a");  // returns at once: the lane holding mail 5 finishes it
  const auto left = schedule.TakeParked();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(*left[0], 3);
}

// One lane per host: the mails of slow.test wait parked while the lanes deliver every mail
// of fast.test; the first slow mail is held until they are through, so a lane stuck behind
// the slow host makes the test time out.
TEST_F(SpoolEngineTest, ASlowHostHoldsUpOnlyItsOwnMails) {
  settings.MaxConnections = 3;
  settings.MaxConnectionsPerHost = 1;
  for (int i = 0; i < 6; ++i) Put("s" + std::to_string(i) + ".eml", Mail("", "s@slow.test"));
  for (int i = 0; i < 6; ++i) Put("f" + std::to_string(i) + ".eml", Mail("", "f@fast.test"));
  std::mutex mutex;
  std::condition_variable fastDone;
  int fast = 0, slow = 0;
  SpoolEnvironment env{state, transport, reporter, notifier, [this] { return settings; },
                       nullptr, "test"};
  env.now = [this] { return now; };
  env.deliver = [&](const std::string& recipients, const std::string&, std::string&,
                    std::string& served, std::string&, const DeliveryContext&) {
    std::unique_lock lock(mutex);
    if (recipients == "f@fast.test") {
      ++fast;
      fastDone.notify_all();
    } else {
      EXPECT_TRUE(slow > 0 || fastDone.wait_for(lock, std::chrono::seconds(20),
                                                [&] { return fast == 6; }));
      ++slow;
    }
    served = recipients;
    return true;
  };
  SpoolEngine engine(std::move(env));
  EXPECT_EQ(engine.ScanSpoolDirectory(settings.SpoolFilePattern), 12);
  EXPECT_EQ(slow, 6);
  EXPECT_TRUE(List().empty());
}

// The next run after a whole run: service_test.cpp. A run already busy starts no second one.
TEST_F(SpoolEngineTest, ARunWhileOneIsBusyTouchesNothing) {
  deliverOk = true;
  Put("a.eml", Mail());
  state.SpoolCycleBusy = true;
  EXPECT_TRUE(Engine().RunSpoolCycle());
  EXPECT_TRUE(attempts.empty());
  EXPECT_EQ(state.NextRun(), kNow);
  EXPECT_EQ(List(), Names{"a.eml"});
}

TEST_F(SpoolEngineTest, RecoverGivesBackWhatNobodyHolds) {
  for (const char* name : {"a.$$$", "B.$$$", "c.$$$", "d.$$$"}) Put(name, name);
  Put("d.eml", "newer d");
  // flock locks belong to the open file: a second open stands for another process.
  const UniqueFd held(::open((dir / "c.$$$").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
  Names recovered = Engine().RecoverWorkingFiles(settings.SpoolFilePattern);
  std::sort(recovered.begin(), recovered.end());
  // d.eml was taken by a newer mail: the older one takes the first free numbered name.
  EXPECT_EQ(recovered, (Names{dir / "B.eml", dir / "a.eml", dir / "d.2.eml"}));
  EXPECT_EQ(List(), (Names{"B.eml", "a.eml", "c.$$$", "d.2.eml", "d.eml"}));
  EXPECT_EQ(Get("a.eml"), "a.$$$");
  EXPECT_EQ(Get("d.eml"), "newer d");
  EXPECT_EQ(Get("d.2.eml"), "d.$$$");

  // The file in hand is held as long as it is processed.
  Reset();
  Put("a.eml", Mail());
  recovered = {"not called"};
  duringDelivery = [&] { recovered = Engine().RecoverWorkingFiles(settings.SpoolFilePattern); };
  EXPECT_FALSE(Process("a.eml"));
  EXPECT_TRUE(recovered.empty());
  EXPECT_EQ(List(), Names{"a.eml"});
}

TEST_F(SpoolEngineTest, AnOlderErrorFileIsKept) {
  Put("a.eml.error", "an earlier mail set aside");
  Put("a.eml", "To: b@y.test\r\nSubject: Hi\r\n\r\nx");  // invalid, no return address
  EXPECT_FALSE(Process("a.eml"));
  EXPECT_EQ(Get("a.eml.error"), "an earlier mail set aside");
  EXPECT_EQ(Get("a.eml.2.error"), "To: b@y.test\r\nSubject: Hi\r\n\r\nx");
}

TEST_F(SpoolEngineTest, RecipientsServedOrRefusedAreNotAskedAgain) {
  struct Row {
    const char* what;
    std::string serve, refuse;  // the first attempt's outcome
    std::string control;        // the control lines the rewrite appends after the retry line
    std::string second;         // the second attempt's recipients
  };
  const Row rows[] = {
      {"one served", "b@y.test", "", "", "a@x.test, c@z.test"},
      {"one refused", "", std::string("c@z.test\t550 no (such) user\0", 29),
       "\r\nX-pvx-RefusedAddresses: c@z.test (550 no \\(such\\) user)",
       "a@x.test, Bee <b@y.test>"},
  };
  settings.RetryInterval = "0";
  const std::string to = "a@x.test,\r\n\tBee <b@y.test>, c@z.test, a@X.TEST";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    serve = row.serve;
    refuse = row.refuse;
    Put("a.eml", Mail("", to));
    EXPECT_FALSE(Process("a.eml"));
    const std::string text = Get("a.eml");
    EXPECT_TRUE(Holds(text, "\r\nX-pvx-SuccessAddresses: " + row.serve + "\r\nX-pvx-Retry: 1\r\n"
                                "X-pvx-SendAfter: 2026-12-06T12:00:00" + row.control + "\r\n\r\n"))
        << text;
    serve.clear();
    refuse.clear();
    EXPECT_FALSE(Process("a.eml"));
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0], "a@x.test, Bee <b@y.test>, c@z.test");
    EXPECT_EQ(attempts[1], row.second);
  }
}

TEST_F(SpoolEngineTest, NobodyLeftToTry) {
  struct Row {
    const char* what;
    std::string headers;
    std::string serve, refuse;  // of the attempt, when one is made
    bool attempt;
    Names left;           // {"a.eml"}: a return mail under the spool name
    std::string report;   // the engine's own report, if any
    std::string protocol; // a line the return mail's protocol holds
  };
  const Row rows[] = {
      {"the last ones refused now", "X-pvx-SuccessAddresses: a@x.test\r\n", "",
       std::string("b@y.test\t550 5.1.1 unknown\0", 27), true, {"a.eml"}, "",
       "b@y.test: 550 5.1.1 unknown"},
      {"refused in an earlier attempt",
       "X-pvx-SuccessAddresses: a@x.test\r\nX-pvx-RefusedAddresses: b@Y.test (550 gone)\r\n", "",
       "", false, {"a.eml"}, "12: No recipient is left to try.", "b@Y.test: 550 gone"},
      {"the rest served now", "X-pvx-RefusedAddresses: a@x.test (550 5.1.1 gone)\r\n",
       "b@y.test", "", true, {"a.eml"}, "", "a@x.test: 550 5.1.1 gone"},
      {"all served before", "X-pvx-SuccessAddresses: b@y.test, a@x.test\r\n", "", "", false, {},
       "0: eMail to 'b@y.test, a@x.test' successfully sent.", ""},
      {"a return mail ends set aside",
       "X-pvx-IsReturnMail: 1\r\nX-pvx-RefusedAddresses: a@x.test (550), b@y.test (550)\r\n", "",
       "", false, {"a.eml.error"}, "12: No recipient is left to try.", ""},
  };
  settings.DefaultReturnTo = "d@x.test";
  settings.MaxRetryCount = 9;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    serve = row.serve;
    refuse = row.refuse;
    deliverOk = !row.serve.empty() && row.refuse.empty();  // every one asked was served
    Put("a.eml", Mail(row.headers, "a@x.test, b@y.test"));
    EXPECT_EQ(Process("a.eml"), row.left.empty() || deliverOk);
    EXPECT_EQ(attempts, row.attempt ? Names{"b@y.test"} : Names{});
    EXPECT_EQ(reporter.reports, row.report.empty() ? Names{} : Names{row.report});
    EXPECT_EQ(List(), row.left);
    if (row.left == Names{"a.eml"}) {
      const std::string protocol = (row.attempt ? kProtocol + std::string("\r\n") : "") +
                                   "Recipients refused for good:\r\n";
      ExpectReturnMail("a@x.test", "d@x.test", kFailedForGoodText, "Mime.eml", protocol);
      if (!row.protocol.empty()) {
        EXPECT_TRUE(Holds(Base64Of(Parsed("a.eml").Content, "Protocol.txt"), row.protocol));
      }
    }
  }
}

TEST_F(SpoolEngineTest, AFileInAWritersHandsIsLeftUnderItsName) {
  struct Row {
    const char* what;
    int flags;   // of the writer's open
    bool flock;  // the writer holds an flock
    bool delivered;
  };
  const Row rows[] = {
      {"open for writing", O_WRONLY, false, false},
      {"flock held", O_RDONLY, true, false},
      {"only read by another process", O_RDONLY, false, true},
  };
  deliverOk = true;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    Put("a.eml", Mail());
    // Another open file description stands for the writer's process.
    const UniqueFd writer(::open((dir / "a.eml").c_str(), row.flags | O_CLOEXEC));
    ASSERT_TRUE(writer.ok());
    if (row.flock) {
      ASSERT_EQ(::flock(writer.get(), LOCK_EX), 0);
    }
    EXPECT_EQ(Process("a.eml"), row.delivered);
    EXPECT_EQ(List(), row.delivered ? Names{} : Names{"a.eml"});
    EXPECT_EQ(attempts.size(), row.delivered ? 1u : 0u);
    EXPECT_TRUE(reporter.reports.empty());
  }
}

TEST(WorkingFileTest, QuietMeansUnchangedForTwoSeconds) {
  struct stat before {};
  before.st_size = 10;
  before.st_mtim.tv_sec = 100;
  before.st_ctim.tv_sec = 100;
  struct Row {
    const char* what;
    std::function<void(struct stat&)> change;
    std::int64_t now;
    bool quiet;
  };
  const Row rows[] = {
      {"unchanged, changed two seconds ago", [](struct stat&) {}, 102, true},
      {"changed a second ago", [](struct stat&) {}, 101, false},
      {"grown", [](struct stat& s) { s.st_size = 11; }, 200, false},
      {"written without growing", [](struct stat& s) { s.st_mtim.tv_nsec = 1; }, 200, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    struct stat after = before;
    row.change(after);
    EXPECT_EQ(QuietSince(before, after, row.now), row.quiet);
  }
}

// The header lines of a text that start with name + ": ".
Names LinesOf(std::string_view text, const std::string& name) {
  Names lines;
  for (std::string_view line : SplitAt(HeaderBlockOf(text), "\r\n"))
    if (line.rfind(name + ": ", 0) == 0) lines.emplace_back(line);
  return lines;
}

TEST_F(SpoolEngineTest, AMailKeepsOneDateAndMessageIdThroughItsAttempts) {
  struct Row {
    const char* what;
    std::string headers;
  };
  const Row rows[] = {
      {"neither", ""},
      {"a Date of its own", "Date: Sun, 6 Dec 2026 11:00:00 +0100\r\n"},
  };
  settings.MaxRetryCount = 2;
  settings.DefaultReturnTo = "d@x.test";
  settings.RetryInterval = "0";
  settings.SenderHostName = "host.test";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Reset();
    // LF-only, as most Linux tools write: the attachment shows CR LF like the wire.
    std::string text = Mail(row.headers);
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
      text.erase(at, 1);
    Put("a.eml", text);
    EXPECT_FALSE(Process("a.eml"));
    const Names dates = LinesOf(Get("a.eml"), "Date"), ids = LinesOf(Get("a.eml"), "Message-ID");
    ASSERT_EQ(dates.size(), 1u);
    ASSERT_EQ(ids.size(), 1u);
    if (row.headers.empty()) {
      const std::regex date(R"(Date: Sun, 06 Dec 2026 12:00:00 [-+]\d{4})");
      const std::regex id(R"(Message-ID: <\d+\.[0-9a-f]{24}@x\.test>)");
      EXPECT_TRUE(std::regex_match(dates[0], date)) << dates[0];
      EXPECT_TRUE(std::regex_match(ids[0], id)) << ids[0];
    } else {
      EXPECT_EQ(row.headers, (row.headers[0] == 'D' ? dates[0] : ids[0]) + "\r\n");
    }
    EXPECT_FALSE(Process("a.eml"));  // the last attempt: the mail goes back
    ASSERT_EQ(mailTexts.size(), 2u);
    const std::string attachment = Base64Of(Parsed("a.eml").Content, "Mime.eml");
    for (const std::string& shown : {mailTexts[0], mailTexts[1], attachment}) {
      EXPECT_EQ(LinesOf(shown, "Date"), dates);
      EXPECT_EQ(LinesOf(shown, "Message-ID"), ids);
    }
    EXPECT_TRUE(Holds(attachment, "\r\n\r\nbody\r\n")) << attachment;
  }
}

}  // namespace
}  // namespace pv
