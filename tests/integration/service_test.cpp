// The real `postvane service=1` process against a spool directory of its own and the loopback
// rig: what reaches the mail servers, what becomes of each spool file, what is reported (CSV
// log, syslog, systemd notifications), and how the process lives (signals, control channel,
// a crash in the middle of a delivery). Invalid files, set-aside return mails and the record
// of the settings file: spool_engine_test.cpp and startup_test.cpp.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include "platform/control_channel.h"
#include "service_fixture.h"

namespace pv {
namespace {

TEST_F(ServiceTest, NotifiesSystemdReloadsOnHangupAndStopsOnTerm) {
  // An hour between runs: only the start and the reload cause a run.
  const std::string first = Address("ok1"), second = Address("ok2");
  Drop("first.eml", Mail(first));
  StartSpooler({{"UpDelay", "3600"}, {"RelayHostName", rig_.Str("RIG_MX2")}});
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  EXPECT_EQ(spooler_->notifications().CountContaining("READY=1\nSTATUS=Next Run at "), 1u);

  ASSERT_TRUE(WaitForMailTo("RIG_MX2_MAILDIR", first)) << "the relay was not used";
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); }));
  EXPECT_GT(spooler_->notifications().CountContaining("STATUS=Spooling eMail"), 0u);

  Drop("second.eml", Mail(second));
  WriteSettings({{"UpDelay", "3600"}});  // no relay: straight to the MX of a.test
  ASSERT_TRUE(spooler_->Signal(SIGHUP));
  ASSERT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", second)) << "the reload was not seen";
  EXPECT_TRUE(MailsTo("RIG_MX2_MAILDIR", second).empty());
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); }));

  StopSpooler();
}

// A reload re-reads the settings but leaves a paused service paused; only CONTINUE resumes it.
TEST_F(ServiceTest, ReloadKeepsAPausedServicePaused) {
  const std::string to = Address("ok");
  StartSpooler({{"UpDelay", "3600"}});
  const std::string socket = dir_ + "/run/control";
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(socket); }));
  std::string error;
  const auto ask = [&](const std::string& request) { return SendControlRequest(socket, request, error); };
  ASSERT_EQ(ask("PAUSE"), "OK") << error;
  Drop("held.eml", Mail(to));
  ASSERT_TRUE(spooler_->Signal(SIGHUP));
  EXPECT_EQ(ask("RELOAD"), "OK");
  EXPECT_EQ(ask("STATE").rfind("state=paused\tnext=", 0), 0u) << ask("STATE");
  EXPECT_NE(ask("STATE").find("\tdir=" + spoolDir_ + "/\text=eml"), std::string::npos) << ask("STATE");
  EXPECT_FALSE(WaitForMailTo("RIG_MX1_MAILDIR", to, std::chrono::seconds(4))) << "delivered while paused";
  ASSERT_EQ(ask("CONTINUE"), "OK");
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to));
  EXPECT_EQ(ask("STATE").rfind("state=", 0), 0u);
  StopSpooler();
}

TEST_F(ServiceTest, DeliveredMailIsDeletedAndLogged) {
  const std::string to = Address("ok"), bcc = Address("bcc");
  Drop("mail.eml", Mail(to, "Bcc: " + bcc +
                               "\r\nX-pvx-ReturnTo: ret@src.test\r\nX-pvx-Retry: 2\r\n"
                               "X-pvx-IsReturnMail: 0\r\nX-pvx-Foo: as written\r\n"));
  StartSpooler();
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());

  std::set<std::string> recipients;
  std::string data;
  for (const ReceivedMail& mail : test::ListMails(rig_.Str("RIG_MX1_MAILDIR"))) {
    if (mail.eml.find(marker_) == std::string::npos) continue;
    for (const std::string& rcpt : mail.Strings("rcpt_tos")) recipients.insert(rcpt);
    EXPECT_EQ(mail.Str("mail_from"), "s@src.test");
    data += mail.eml;
  }
  EXPECT_EQ(recipients, (std::set<std::string>{to, bcc}));
  EXPECT_NE(data.find("Hello from " + marker_ + ".\r\n"), std::string::npos) << data;
  // Bcc and the control headers stay here; IsReturnMail and unknown X-pvx headers go out.
  EXPECT_FALSE(std::regex_search(
      data, std::regex("(^|\n)(bcc|x-pvx-returnto|x-pvx-retry)", std::regex::icase)))
      << data;
  EXPECT_NE(data.find("\r\nX-pvx-IsReturnMail: 0\r\nX-pvx-Foo: as written\r\n"),
            std::string::npos)
      << data;

  const auto delivered = CsvRowsWithCode("0");
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0][kType], "4");
  EXPECT_EQ(delivered[0][kSource], "PVX");
  EXPECT_EQ(delivered[0][kSubject], marker_);
  EXPECT_NE(delivered[0][kRecipients].find(bcc), std::string::npos);
  StopSpooler();
  EXPECT_FALSE(fs::exists(dir_ + "/home/Postvane_debug.out")) << "written without debug=1";
}

TEST_F(ServiceTest, FailedMailGoesBackToItsReturnAddress) {
  const std::string rejected = Address("reject"), returnTo = Address("ret");
  const std::string original = Mail(rejected, "X-pvx-ReturnTo: " + returnTo + "\r\n");
  Drop("failed.eml", original);
  StartSpooler({{"UpDelay", "2"}, {"MaxRetryCount", "1"}});

  // The return mail takes the failed file's name until a later run delivers it.
  ASSERT_TRUE(WaitUntil([&] {
    return SpoolText("failed.eml").find("X-pvx-IsReturnMail: 1") != std::string::npos;
  }));
  const auto mail = WaitForMailTo("RIG_MX1_MAILDIR", returnTo);
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->Str("mail_from"), "<>");
  EXPECT_EQ(mail->Strings("rcpt_tos"), std::vector<std::string>{returnTo});
  EXPECT_NE(mail->eml.find("Subject: The attached Mail had permanent errors\r\n"),
            std::string::npos) << mail->eml;
  // The failed file as it was dropped, with the Date and Message-ID it went out with.
  const std::string attached = Base64Of(mail->eml, "Mime.eml");
  const std::size_t end = original.find("\r\n\r\n");
  const std::regex added("\r\nDate: [^\r]+\r\nMessage-ID: <[^\r]+@src\\.test>");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(attached, match, added)) << attached;
  EXPECT_EQ(attached.substr(0, end) + attached.substr(end + match.length()), original) << attached;
  EXPECT_NE(Base64Of(mail->eml, "Protocol.txt").find(rejected), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());

  const auto failed = CsvRowsWithCode("12");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0][kType], "1");
  EXPECT_NE(failed[0][kMessage].find(rejected), std::string::npos) << failed[0][kMessage];
  EXPECT_EQ(CsvRowsWithCode("0").size(), 1u);
  // WriteErrorNTEventLog is on by default: mail facility, severity error, tag PVX.
  EXPECT_EQ(spooler_->syslog().CountContaining("PVX["), 1u);
  for (const std::string& entry : spooler_->syslog().Messages())
    EXPECT_EQ(entry.rfind("<19>", 0), 0u) << entry;
  StopSpooler();
}

TEST_F(ServiceTest, ControlChannelTellsTheStatusAndStartsARunAtOnce) {
  StartSpooler({{"UpDelay", "3600"}});
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  // The run at start has passed: the next one is an hour away.
  const test::CommandResult status = WaitUntilIdle();
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_NE(status.output.find(dir_ + "/run/control: Next Run at "), std::string::npos)
      << status.output;
  EXPECT_NE(status.output.find("spool directory " + spoolDir_ + "/"), std::string::npos)
      << status.output;

  // A second spooler on the same runtime directory gives way.
  EXPECT_EQ(test::RunPostvane({"service=1"}, Env(), dir_).exitCode, 1);

  const std::string to = Address("ok");
  Drop("now.eml", Mail(to));
  const test::CommandResult spoolNow = test::RunPostvane({"--spool-now"}, Env(), dir_);
  EXPECT_EQ(spoolNow.exitCode, 0) << spoolNow.output;
  EXPECT_NE(spoolNow.output.find(dir_ + "/run/control: OK"), std::string::npos)
      << spoolNow.output;
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to, std::chrono::seconds(10)));
  EXPECT_TRUE(WaitUntil([&] { return SpoolEmpty(); }));
  StopSpooler();
}

TEST_F(ServiceTest, MailInHandWhenTheProcessDiesIsDeliveredAfterTheRestart) {
  // The server stores the mail, then holds back its answer to the final dot for a while.
  const std::string to = Address("slowdata");
  Drop("crash.eml", Mail(to));
  StartSpooler();
  ASSERT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to));
  spooler_->Kill();
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{"crash.$$$"});

  ASSERT_TRUE(spooler_->Start(Env()));
  EXPECT_TRUE(WaitUntil([&] { return SpoolNames() == std::vector<std::string>{"crash.eml"}; }))
      << ::testing::PrintToString(SpoolNames());
  // Stopped while the second attempt waits for its answer: the mail in hand is finished first.
  ASSERT_TRUE(
      WaitUntil([&] { return MailsTo("RIG_MX1_MAILDIR", to).size() >= 2 || SpoolEmpty(); }));
  StopSpooler();
  EXPECT_TRUE(SpoolEmpty()) << ::testing::PrintToString(SpoolNames());

  const std::size_t held = MailsTo("RIG_MX1_MAILDIR", to).size();
  EXPECT_GE(held, 1u);
  EXPECT_LE(held, 2u);
  const std::string path = spoolDir_ + "/crash.eml";
  EXPECT_EQ(spooler_->syslog().CountContaining(path), 1u) << "the recovery is told once";
  std::size_t rows = 0;
  for (const CsvRow& row : CsvRows()) rows += row[kMessage].find(path) != std::string::npos;
  EXPECT_EQ(rows, 1u);
  EXPECT_EQ(CsvRowsWith(kType, "4").size(), 1u);
}

TEST_F(ServiceTest, UnreadNotifySocketBlocksNeitherTheControlChannelNorTheStop) {
  test::DatagramInbox& systemd = spooler_->notifications();
  systemd.ShrinkReceiveBuffer();
  StartSpooler({{"UpDelay", "3600"}});
  // From here the socket is not read until the stop: every run adds two status lines, far more
  // than its queue holds.
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir_ + "/run/control"); }));
  const auto quick = std::chrono::seconds(5);
  for (int i = 0; i < 30; ++i) {
    const test::CommandResult spoolNow = test::RunPostvane({"--spool-now"}, Env(), dir_, quick);
    ASSERT_EQ(spoolNow.exitCode, 0) << i << ": " << spoolNow.output;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  const test::CommandResult status = test::RunPostvane({"--status"}, Env(), dir_, quick);
  EXPECT_EQ(status.exitCode, 0) << status.output;
  EXPECT_NE(status.output.find("spool directory " + spoolDir_), std::string::npos)
      << status.output;

  ASSERT_TRUE(spooler_->Signal(SIGTERM));
  ASSERT_TRUE(WaitUntil([&] { return spooler_->Output().find("Stopping:") != std::string::npos; },
                        quick)) << "SIGTERM was not handled";
  // Now systemd reads: what the service kept for it arrives, and the process ends.
  std::optional<int> code;
  ASSERT_TRUE(WaitUntil([&] {
    systemd.Messages();
    code = spooler_->WaitExit(std::chrono::milliseconds(0));
    return code.has_value();
  }, std::chrono::seconds(10)));
  EXPECT_EQ(code, std::optional<int>(0));
  const std::vector<std::string>& messages = systemd.Messages();
  EXPECT_GE(messages.size(), 10u) << "the queue was never full";
  EXPECT_EQ(systemd.CountContaining("READY=1"), 1u);
  EXPECT_EQ(systemd.CountContaining("STOPPING=1"), 1u);
  EXPECT_EQ(messages.back(), "STOPPING=1");
}

TEST_F(ServiceTest, DebugSwitchWritesTheLifeOfTheSpoolerToTheDebugFile) {
  WriteSettings({{"UpDelay", "3600"}});
  ASSERT_TRUE(spooler_->Start(Env(), {"debug=1"}));
  const std::string debugFile = dir_ + "/home/Postvane_debug.out";
  ASSERT_TRUE(WaitUntil([&] {
    return test::ReadWholeFile(debugFile).find("Spool run ends") != std::string::npos;
  })) << test::ReadWholeFile(debugFile);
  StopSpooler();

  // Each line: the time, then what happened, in the order it happened.
  const std::string text = test::ReadWholeFile(debugFile);
  std::size_t at = 0;
  for (const char* event : {" - Settings loaded - ", " - Start - service - ",
                            " - Spool run begins - ", " - Spool run ends - ",
                            " - Stop requested\r\n", " - Exit - 0\r\n"}) {
    at = text.find(event, at);
    ASSERT_NE(at, std::string::npos) << event << "\n" << text;
  }
  EXPECT_TRUE(text.ends_with(" - Exit - 0\r\n")) << text;
}

}  // namespace
}  // namespace pv

namespace pv {
namespace {

std::string Joined(const std::multiset<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A raw watcher of the control channel: sends WATCH and collects the lines that arrive.
class Watcher {
 public:
  explicit Watcher(const std::string& socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::send(fd_, "WATCH\n", 6, MSG_NOSIGNAL) == 6;
  }
  ~Watcher() { ::close(fd_); }
  bool connected() const { return connected_; }

  // Reads what arrives within waitMs; false once the spooler closed the connection.
  bool Read(int waitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    text_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  bool WaitForLine(const std::string& line) {
    return WaitUntil([&] {
      Read(200);
      return Lines().count(line) > 0;
    });
  }
  std::multiset<std::string> Lines() const {
    std::multiset<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text_.find('\n', start)) != std::string::npos; start = end + 1)
      lines.insert(text_.substr(start, end - start));
    return lines;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string text_;
};

// The desktop of a member of the group postvane shows the system service's results: they
// arrive on a watch of its control channel, each once, by the service's own switches.
TEST_F(ServiceTest, WatchersHearEachResultUntilTheServiceStops) {
  StartSpooler({{"UpDelay", "3600"}, {"ShowSuccessBallons", "1"}, {"ShowErrorBallons", "1"}});
  const std::string socket = dir_ + "/run/control";
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  Watcher watcher(socket);
  ASSERT_TRUE(watcher.connected());
  ASSERT_TRUE(watcher.WaitForLine("OK"));

  const std::string ok = Address("ok"), refused = Address("reject");
  Drop("good.eml", Mail(ok, "", "good"));
  Drop("bad.eml", Mail(refused, "", "bad"));
  ASSERT_EQ(test::RunPostvane({"--spool-now"}, Env(), dir_).exitCode, 0);
  ASSERT_TRUE(watcher.WaitForLine("BALLOON\t1\tPostvane Success\t1 eMail(s) send out."))
      << Joined(watcher.Lines());
  std::size_t successes = 0, errors = 0;
  for (const std::string& line : watcher.Lines()) {
    successes += line.rfind("BALLOON\t1\tPostvane Success\t", 0) == 0 &&
                 line.find(ok) != std::string::npos;
    errors += line.rfind("BALLOON\t3\tPostvane Error\t", 0) == 0 &&
              line.find(refused) != std::string::npos;
  }
  EXPECT_EQ(successes, 1u) << Joined(watcher.Lines());
  EXPECT_EQ(errors, 1u) << Joined(watcher.Lines());

  StopSpooler();
  EXPECT_TRUE(WaitUntil([&] { return !watcher.Read(200); })) << "the watch outlived the service";
}

}  // namespace
}  // namespace pv
