// The real `postvane service=1` process against a spool directory of its own and the loopback
// rig: what reaches the mail servers, what becomes of each spool file, what is reported (CSV
// log, syslog, systemd notifications), and how the process lives (signals, control channel,
// a crash in the middle of a delivery).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include "rig_env.h"
#include "spooler_process.h"
#include "support/base64.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::ReceivedMail;
using test::RigEnv;
using test::WaitUntil;

// One data line of the CSV log, split into its fields.
using CsvRow = std::vector<std::string>;
enum CsvColumn {
  kDate, kSenderHost, kRelayHost, kSource, kType, kSender, kRecipients, kSubject, kExitCode,
  kMessage
};

// Splits one line at the commas outside quotes; doubled quotes inside a quoted field are one.
CsvRow SplitCsvLine(const std::string& line) {
  CsvRow fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

std::string Base64Of(const std::string& mail, const std::string& attachmentName) {
  const std::size_t name = mail.find("filename=\"" + attachmentName + "\"");
  if (name == std::string::npos) return "";
  const std::size_t start = mail.find("\r\n\r\n", name);
  const std::size_t end = mail.find("\r\n--", start);
  if (start == std::string::npos || end == std::string::npos) return "";
  Bytes decoded;
  return Base64Decode(std::string_view(mail).substr(start + 4, end - start - 4), decoded)
             ? decoded
             : "";
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig_ = RigEnv::Load();
    ASSERT_TRUE(rig_.ok()) << rig_.error();
    char pattern[] = "/tmp/pv-svc-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    spoolDir_ = dir_ + "/spool";
    logDir_ = dir_ + "/logs";
    fs::create_directories(spoolDir_);
    fs::create_directories(logDir_);
    static std::atomic<int> counter{0};
    marker_ = "svc" + std::to_string(::getpid()) + "x" + std::to_string(++counter);
    spooler_ = std::make_unique<test::SpoolerProcess>(dir_);
  }

  void TearDown() override {
    if (spooler_ != nullptr) {
      spooler_->Kill();
      if (HasFailure()) std::cerr << "--- spooler output ---\n" << spooler_->Output();
    }
    spooler_.reset();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // The settings file: short delays, the rig's DNS, retries due at once, no return address;
  // `spooler` overrides or adds keys of the Spooler section.
  void WriteSettings(const std::map<std::string, std::string>& spooler = {},
                     const std::string& path = "") {
    std::map<std::string, std::string> keys = {
        {"UpDelay", "1"},          {"LogFileDir", logDir_ + "/"}, {"RetryInterval", "0"},
        {"MaxRetryCount", "3"},    {"DefaultReturnTo", ""},       {"RelayHostName", ""},
        {"SenderHostName", "client.src.test"}};
    for (const auto& [key, value] : spooler) keys[key] = value;
    std::string text = "[Settings]\nDefaultSpoolDir=" + spoolDir_ +
                       "/\nDefaultExtension=eml\nDNSServer=" + rig_.Str("RIG_DNS_SERVER") +
                       "\n[Spooler]\n";
    for (const auto& [key, value] : keys) text += key + "=" + value + "\n";
    WriteAtomically(path.empty() ? dir_ + "/postvane.start" : path, text);
  }

  test::Environment Env() const {
    return {{"POSTVANE_SETTINGS", dir_ + "/postvane.start"},
            {"POSTVANE_HOME", dir_ + "/home"},
            {"POSTVANE_RUNTIME_DIR", dir_ + "/run"},
            {"SSL_CERT_FILE", rig_.Str("RIG_TLS_CERT")}};
  }

  void StartSpooler(const std::map<std::string, std::string>& spooler = {}) {
    WriteSettings(spooler);
    ASSERT_TRUE(spooler_->Start(Env()));
  }

  // SIGTERM: the spooler says it stops and ends with 0.
  void StopSpooler() {
    ASSERT_TRUE(spooler_->Signal(SIGTERM));
    EXPECT_EQ(spooler_->WaitExit(), std::optional<int>(0));
    EXPECT_GT(spooler_->notifications().CountContaining("STOPPING=1"), 0u);
  }

  static void WriteAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".part";
    std::ofstream(temp, std::ios::binary) << text;
    fs::rename(temp, path);
  }

  // A mail from this test; `tag` tells its mails apart in its subject.
  std::string Mail(const std::string& to, const std::string& headers = "",
                   const std::string& tag = "") const {
    return "From: Sender <s@src.test>\r\nTo: " + to + "\r\nSubject: " + marker_ + tag +
           "\r\nMime-Version: 1.0\r\n" + headers + "\r\nHello from " + marker_ + ".\r\n";
  }
  // Writes text under a name the scan does not match, then renames it into place.
  std::string Drop(const std::string& name, const std::string& text) {
    const std::string path = spoolDir_ + "/" + name;
    WriteAtomically(path, text);
    return path;
  }
  // An address at a.test whose local part carries the marker: "ok" -> ok-svc123x1@a.test.
  std::string Address(const std::string& kind) const { return kind + "-" + marker_ + "@a.test"; }

  std::vector<std::string> SpoolNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(spoolDir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  bool SpoolEmpty() const { return SpoolNames().empty(); }
  std::string SpoolText(const std::string& name) const {
    return test::ReadWholeFile(spoolDir_ + "/" + name);
  }

  // The mails a server accepted for a recipient of this test.
  std::vector<ReceivedMail> MailsTo(const char* maildirKey, const std::string& recipient) const {
    std::vector<ReceivedMail> found;
    for (auto& mail : test::ListMails(rig_.Str(maildirKey))) {
      const auto rcpts = mail.Strings("rcpt_tos");
      if (std::find(rcpts.begin(), rcpts.end(), recipient) != rcpts.end())
        found.push_back(std::move(mail));
    }
    return found;
  }
  std::optional<ReceivedMail> WaitForMailTo(
      const char* maildirKey, const std::string& recipient,
      std::chrono::seconds timeout = std::chrono::seconds(20)) {
    std::optional<ReceivedMail> mail;
    WaitUntil(
        [&] {
          auto mails = MailsTo(maildirKey, recipient);
          if (!mails.empty()) mail = std::move(mails.front());
          return mail.has_value();
        },
        timeout);
    return mail;
  }
  // RCPT commands the server was given for an address (accepted or not).
  std::size_t RcptCommandsFor(const char* transcriptKey, const std::string& address) const {
    const std::string transcript = test::ReadWholeFile(rig_.Str(transcriptKey));
    const std::regex rcpt(">> b'rcpt to:<" + address + ">", std::regex::icase);
    return std::distance(std::sregex_iterator(transcript.begin(), transcript.end(), rcpt),
                         std::sregex_iterator());
  }

  // The day's CSV log: its one file in LogFileDir, header line checked, the data lines split.
  std::vector<CsvRow> CsvRows() const {
    std::vector<CsvRow> rows;
    for (const auto& entry : fs::directory_iterator(logDir_)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(std::regex_match(name, std::regex(R"(PVX-\d{4}-\d{2}-\d{2}\.csv)"))) << name;
      const std::string text = test::ReadWholeFile(entry.path().string());
      EXPECT_EQ(text.rfind("date,senderhostname,relayhostname,source,type,sender,recipients,"
                           "subject,exitcode,msg\r\n", 0), 0u) << text;
      for (std::size_t start = text.find("\r\n") + 2, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        rows.push_back(SplitCsvLine(text.substr(start, end - start)));
        EXPECT_EQ(rows.back().size(), 10u) << text.substr(start, end - start);
        rows.back().resize(10);
      }
    }
    return rows;
  }
  std::vector<CsvRow> CsvRowsWith(CsvColumn column, const std::string& value) const {
    std::vector<CsvRow> rows;
    for (CsvRow& row : CsvRows())
      if (row[column] == value) rows.push_back(std::move(row));
    return rows;
  }
  std::vector<CsvRow> CsvRowsWithCode(const std::string& code) const {
    return CsvRowsWith(kExitCode, code);
  }

  RigEnv rig_;
  std::string dir_, spoolDir_, logDir_, marker_;
  std::unique_ptr<test::SpoolerProcess> spooler_;
};

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

TEST_F(ServiceTest, DeliveredMailIsDeletedAndLogged) {
  const std::string to = Address("ok"), bcc = Address("bcc");
  Drop("mail.eml", Mail(to, "Bcc: " + bcc + "\r\nX-pvx-ReturnTo: ret@src.test\r\n"));
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
  EXPECT_FALSE(std::regex_search(data, std::regex("(^|\n)(bcc|x-pvx)", std::regex::icase)))
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

TEST_F(ServiceTest, PartlyFailedMailIsRescheduledForTheRestOnly) {
  const std::string ok = Address("ok"), defer = Address("defer");
  const std::string original = Mail(ok + ", " + defer, "X-Mailer: test\r\n");
  Drop("partly.eml", original);
  StartSpooler({{"UpDelay", "2"}, {"MaxRetryCount", "2"}});

  // After the first attempt: served recipient, count and next time, after the kept headers.
  std::string rewritten;
  ASSERT_TRUE(WaitUntil([&] {
    rewritten = SpoolText("partly.eml");
    return rewritten.find("X-pvx-Retry: 1") != std::string::npos;
  }));
  const std::string kept = original.substr(0, original.find("\r\n\r\n"));
  const std::regex layout("\r\nX-pvx-SuccessAddresses: " + ok +
                          "\r\nX-pvx-Retry: 1\r\nX-pvx-SendAfter: "
                          R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\r\n\r\nHello from )");
  EXPECT_EQ(rewritten.rfind(kept, 0), 0u) << rewritten;
  EXPECT_TRUE(std::regex_search(rewritten, layout)) << rewritten;

  // The second attempt fails too, and with no return address the mail is set aside.
  const std::vector<std::string> setAsideOnly = {"partly.eml.error"};
  ASSERT_TRUE(WaitUntil([&] { return SpoolNames() == setAsideOnly; }))
      << ::testing::PrintToString(SpoolNames());
  const std::string setAside = SpoolText("partly.eml.error");
  EXPECT_NE(setAside.find("X-pvx-SuccessAddresses: " + ok + "\r\nX-pvx-Retry: 2\r\n"),
            std::string::npos) << setAside;

  EXPECT_EQ(MailsTo("RIG_MX1_MAILDIR", ok).size(), 1u);
  EXPECT_EQ(RcptCommandsFor("RIG_MX1_TRANSCRIPT", ok), 1u);
  EXPECT_EQ(RcptCommandsFor("RIG_MX1_TRANSCRIPT", defer), 2u);

  const auto failed = CsvRowsWithCode("12");
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(failed[0][kType], "1");
  EXPECT_NE(failed[0][kMessage].find(defer), std::string::npos) << failed[0][kMessage];
  EXPECT_EQ(failed[1][kRecipients].find(ok), std::string::npos) << failed[1][kRecipients];
  EXPECT_NE(failed[1][kRecipients].find(defer), std::string::npos) << failed[1][kRecipients];
  // WriteErrorNTEventLog is on by default: mail facility, severity error, tag PVX.
  EXPECT_EQ(spooler_->syslog().CountContaining("PVX["), 2u);
  for (const std::string& entry : spooler_->syslog().Messages())
    EXPECT_EQ(entry.rfind("<19>", 0), 0u) << entry;
  StopSpooler();
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
  EXPECT_EQ(Base64Of(mail->eml, "Mime.eml"), original) << "the failed file, as it was dropped";
  EXPECT_NE(Base64Of(mail->eml, "Protocol.txt").find(rejected), std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());

  EXPECT_EQ(CsvRowsWithCode("12").size(), 1u);
  EXPECT_EQ(CsvRowsWithCode("0").size(), 1u);
  StopSpooler();
}

TEST_F(ServiceTest, UnsendableFilesAreSetAsideAndFutureOnesLeftAlone) {
  const std::string failedReturn =
      Mail(Address("reject"), "X-pvx-IsReturnMail: 1\r\n", "-return");
  std::string invalid = Mail(Address("ok"), "", "-invalid");
  invalid.erase(invalid.find("Mime-Version: 1.0\r\n"), 19);
  const std::string future = Mail(Address("ok"), "X-pvx-SendAfter: 2099-01-01T00:00:00\r\n");
  Drop("return.eml", failedReturn);
  Drop("invalid.eml", invalid);
  Drop("future.eml", future);
  StartSpooler({{"MaxRetryCount", "1"}});

  const std::vector<std::string> settled = {"future.eml", "invalid.eml.error", "return.eml.error"};
  ASSERT_TRUE(WaitUntil([&] { return SpoolNames() == settled; }))
      << ::testing::PrintToString(SpoolNames());
  StopSpooler();  // finishes the file in hand, so the future mail is back under its name

  EXPECT_EQ(SpoolNames(), settled);
  EXPECT_EQ(SpoolText("future.eml"), future);
  EXPECT_EQ(SpoolText("invalid.eml.error"), invalid);
  const std::string setAside = SpoolText("return.eml.error");
  EXPECT_NE(setAside.find("\r\nX-pvx-Retry: 1\r\n"), std::string::npos) << setAside;
  EXPECT_NE(setAside.find("\r\nX-pvx-IsErrorMime: 1\r\n\r\nHello from "), std::string::npos)
      << setAside;
  EXPECT_TRUE(MailsTo("RIG_MX1_MAILDIR", Address("ok")).empty());

  const auto invalidRows = CsvRowsWithCode("26");
  ASSERT_EQ(invalidRows.size(), 1u);
  EXPECT_NE(invalidRows[0][kMessage].find(spoolDir_ + "/invalid.eml"), std::string::npos);
  EXPECT_EQ(CsvRowsWithCode("12").size(), 1u);
  EXPECT_EQ(CsvRows().size(), 2u) << "a return mail is never answered by another one";
}

TEST_F(ServiceTest, ControlChannelTellsTheStatusAndStartsARunAtOnce) {
  StartSpooler({{"UpDelay", "3600"}});
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  // The run at start has passed: the next one is an hour away.
  test::CommandResult status;
  ASSERT_TRUE(WaitUntil([&] {
    return spooler_->notifications().CountContaining("STATUS=Spooling eMail") > 0 &&
           (status = test::RunPostvane({"--status"}, Env(), dir_)).output.find("Next Run at") !=
               std::string::npos;
  })) << status.output;
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

TEST_F(ServiceTest, ServiceKeepsToTheMachineRecordOfItsSettingsFile) {
  // A user's record, as any earlier run of that user leaves it, names other settings.
  const std::string userStore = dir_ + "/user/.config/postvane/registry.ini";
  const std::string machineStore = dir_ + "/machine/registry.ini";
  const std::string userRecord =
      "[Software\\Tandrel\\PostvaneSpooler]\nStartFilename=sz:" + dir_ + "/elsewhere.start\n";
  fs::create_directories(dir_ + "/user/.config/postvane");
  WriteAtomically(userStore, userRecord);
  WriteAtomically(dir_ + "/elsewhere.start", "[Settings]\nDefaultSpoolDir=" + dir_ + "/other/\n");
  fs::create_directories(dir_ + "/home");
  WriteSettings({{"UpDelay", "3600"}}, dir_ + "/home/postvane.start");
  test::Environment env = Env();
  env.erase("POSTVANE_SETTINGS");
  env["HOME"] = dir_ + "/user";
  env["POSTVANE_MACHINE_REGISTRY"] = machineStore;

  ASSERT_TRUE(spooler_->Start(env));
  ASSERT_TRUE(spooler_->notifications().WaitFor("READY=1"));
  const test::CommandResult status = test::RunPostvane({"--status"}, env, dir_);
  EXPECT_NE(status.output.find("spool directory " + spoolDir_ + "/"), std::string::npos)
      << status.output;
  EXPECT_NE(test::ReadWholeFile(machineStore).find("sz:" + dir_ + "/home/postvane.start"),
            std::string::npos) << test::ReadWholeFile(machineStore);
  EXPECT_EQ(test::ReadWholeFile(userStore), userRecord);
  StopSpooler();

  // A command-line run of the same user follows the user's record and leaves the machine's.
  const std::string machineRecord = test::ReadWholeFile(machineStore);
  fs::remove(userStore);
  const test::CommandResult settings = test::RunPostvane({"settingsmode=1"}, env, dir_);
  EXPECT_EQ(settings.exitCode, 0) << settings.output;
  EXPECT_NE(test::ReadWholeFile(userStore).find("sz:" + dir_ + "/home/postvane.start"),
            std::string::npos) << test::ReadWholeFile(userStore);
  EXPECT_EQ(test::ReadWholeFile(machineStore), machineRecord);
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
  ASSERT_TRUE(spooler_->Signal(SIGHUP));
  ASSERT_TRUE(WaitUntil([&] {
    const std::string text = test::ReadWholeFile(debugFile);
    return text.find("Settings loaded") != text.rfind("Settings loaded");
  })) << test::ReadWholeFile(debugFile);
  StopSpooler();

  // Each line: the time, then what happened, in the order it happened.
  const std::string settings = dir_ + "/postvane.start", spool = spoolDir_ + "/";
  const std::vector<std::string> expected = {
      "Settings loaded - " + settings + " - complete",
      "Start - service - " + settings + " - " + spool,
      "Spool run begins - " + spool,
      "Spool run ends - " + spool,
      "Settings loaded - " + settings + " - complete",
      "Stop requested",
      "Exit - 0",
  };
  const std::string text = test::ReadWholeFile(debugFile);
  ASSERT_TRUE(text.ends_with("\r\n")) << text;
  std::vector<std::string> events;
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string entry = text.substr(at, end - at);
    const std::size_t afterTime = entry.find(" - ");
    EXPECT_NE(afterTime, std::string::npos) << entry;
    events.push_back(afterTime == std::string::npos ? entry : entry.substr(afterTime + 3));
  }
  // A run may start again after the reload (ContService makes one due in 3 seconds).
  std::vector<std::string> withoutLaterRuns;
  for (const std::string& event : events)
    if (withoutLaterRuns.size() < 4 || event.rfind("Spool run", 0) != 0)
      withoutLaterRuns.push_back(event);
  EXPECT_EQ(withoutLaterRuns, expected) << text;
}

}  // namespace
}  // namespace pv
