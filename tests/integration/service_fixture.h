#pragma once
// The fixture of the end-to-end tests: the real `postvane service=1` process against a spool
// directory of its own and the loopback rig, with helpers to drop mails, read the spool
// directory, the CSV log and what the rig's servers received.
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
inline CsvRow SplitCsvLine(const std::string& line) {
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

inline std::string Base64Of(const std::string& mail, const std::string& attachmentName) {
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

  // The spooler has made its run at start and waits for the next one (UpDelay away); what
  // --status said then.
  test::CommandResult WaitUntilIdle() {
    test::CommandResult status;
    EXPECT_TRUE(WaitUntil([&] {
      return spooler_->notifications().CountContaining("STATUS=Spooling eMail") > 0 &&
             (status = test::RunPostvane({"--status"}, Env(), dir_)).output.find("Next Run at") !=
                 std::string::npos;
    })) << status.output;
    return status;
  }

  // SIGTERM: the spooler says it stops and ends with 0.
  void StopSpooler() {
    // Read what it said so far: a full inbox would keep the notifications of its stop out.
    spooler_->notifications().Messages();
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

}  // namespace pv
