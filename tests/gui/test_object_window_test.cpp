// The scripting object test window with a fake scripting object: each step's message and what
// did not run after it, the DNS servers handed on, the mail text, the directory comparison, the
// blanked settings copy; then the window with the real postvane-spool.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <sys/stat.h>
#include <tuple>
#include <vector>

#include "../unit/temp_dir.h"
#include "desktop/message_box.h"
#include "scripting/client/test_mail.h"
#include "desktop/test_object_window.h"
#include "pv_version.h"
#include "settings/blanked_copy.h"
#include "settings/ini_store.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// What the fake scripting object is told to answer, and what it was asked.
struct Script {
  QString createError;
  bool traceOk = true;
  QString protocol = QStringLiteral("MX example.org: 10 mx.example.org");
  bool spoolOk = true;
  QString spoolError = QStringLiteral("'From' field can not be empty.");
  QString writeInto;  // the directory the spool file is written into
  std::function<void()> duringTrace;
  std::function<void()> duringRun;

  std::vector<std::string> calls;
  QString dnsUrl, traceAddress, subject, spoolAddress, text, attachmentPath, written;
  std::string attachmentBytes;
  mode_t attachmentMode = 0;
};

class FakeObject : public ScriptingObject {
 public:
  explicit FakeObject(Script& script) : s_(script) {}
  QString Create() override {
    s_.calls.push_back("Create");
    return s_.createError;
  }
  bool Trace(const QString& dnsUrl, const QString& address) override {
    s_.calls.push_back("Trace");
    s_.dnsUrl = dnsUrl;
    s_.traceAddress = address;
    if (s_.duringTrace) s_.duringTrace();
    return s_.traceOk;
  }
  QString Protocol() const override { return s_.protocol; }
  bool Spool(const QString& subject, const QString& address, const QString& text,
             const QString& attachmentPath) override {
    s_.calls.push_back("Spool");
    s_.subject = subject;
    s_.spoolAddress = address;
    s_.text = text;
    s_.attachmentPath = attachmentPath;
    s_.attachmentBytes = ReadFile(attachmentPath.toStdString());
    struct stat st {};
    if (::stat(attachmentPath.toStdString().c_str(), &st) == 0) s_.attachmentMode = st.st_mode & 07777;
    if (!s_.spoolOk) return false;
    s_.written = s_.writeInto + QStringLiteral("/20260101-120000-1-0badcafe.eml");
    WriteFile(s_.written.toStdString(), "From: x\r\n");
    return true;
  }
  QString LastResultMsg() const override { return s_.spoolOk ? s_.written : s_.spoolError; }
  void RunSpooler() override {
    s_.calls.push_back("RunSpooler");
    if (s_.duringRun) s_.duringRun();
  }

 private:
  Script& s_;
};

// Answers every message box with OK and keeps what it said.
class Boxes {
 public:
  Boxes() {
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      shown.push_back(request);
      if (onShow) onShow();
      return QMessageBox::Ok;
    });
  }
  ~Boxes() { SetMessageAnswererForTests(nullptr); }
  std::vector<MessageRequest> shown;
  std::function<void()> onShow;
};

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 3, 4, 5, 6, 7);

class TestObjectWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spoolDir = dir / "Spool";
    fs::create_directory(spoolDir);
    script.writeInto = Q(spoolDir);
    host.settingsFile = dir / "postvane.start";
    host.defaults.DefaultReturnAddress = "me@example.org";
    host.defaults.SystemDNSServers = "192.0.2.1,192.0.2.2";
    host.defaults.ProgramDirectory = dir.path() + "/";
    host.scriptingObject = [this] { return std::make_unique<FakeObject>(script); };
    host.now = [] { return kNow; };
    host.machineNames = [] { return MachineNames{"box", "corp.example", ""}; };
  }

  // A settings file naming the spool directory, with lines of its own after it.
  void WriteSettings(const std::string& spoolDirEntry, const std::string& more = "") {
    WriteFile(host.settingsFile, "[Settings]\nDefaultSpoolDir=" + spoolDirEntry + "\n" + more);
  }
  TestObjectWindow& Open() {
    window = std::make_unique<TestObjectWindow>(host);
    window->show();
    return *window;
  }
  QLineEdit* Address() { return window->findChild<QLineEdit*>(QStringLiteral("txteMailAddress")); }
  QPushButton* Button(const char* name) { return window->findChild<QPushButton*>(QString::fromLatin1(name)); }
  void RunWith(const QString& address) {
    Address()->setText(address);
    QTest::mouseClick(Button("cmdOK"), Qt::LeftButton);
  }
  // After a test that did not succeed: the window open for another try, as before it.
  void ExpectReadyAgain() {
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(Button("cmdOK")->isEnabled());
    EXPECT_TRUE(Button("cmdCancel")->isEnabled());
    EXPECT_FALSE(window->busy());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }

  test::TempDir dir;
  std::string spoolDir;
  Script script;
  TestObjectHost host;
  Boxes boxes;
  std::unique_ptr<TestObjectWindow> window;
};

TEST_F(TestObjectWindowTest, ShowsItsControlsAndTheStoredAddress) {
  Open();
  EXPECT_EQ(window->objectName(), QStringLiteral("frmTestObject"));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Postvane COM Object Test"));
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("label1"))->text(),
            QStringLiteral("Create Test Mime for eMail Address"));
  EXPECT_EQ(Button("cmdOK")->text(), QStringLiteral("OK"));
  EXPECT_TRUE(Button("cmdOK")->isDefault());
  EXPECT_EQ(Button("cmdCancel")->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(Address()->text(), QStringLiteral("me@example.org"));  // no settings file yet

  WriteFile(host.settingsFile, "[Spooler]\nTestAddress=tester@example.net\n");
  Open();
  EXPECT_EQ(Address()->text(), QStringLiteral("tester@example.net"));
}

TEST_F(TestObjectWindowTest, CancelAndEscapeClose) {
  for (const bool escape : {false, true}) {
    SCOPED_TRACE(escape);
    Open();
    if (escape) QTest::keyClick(Address(), Qt::Key_Escape);
    else QTest::mouseClick(Button("cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
  }
  EXPECT_TRUE(script.calls.empty());
}

// Each step that fails ends the test with its message; the later steps do not run.
TEST_F(TestObjectWindowTest, EachFailingStepTellsWhyAndStopsThere) {
  struct Case {
    const char* name;
    std::function<void(Script&)> arrange;
    QString text;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"no object", [](Script& s) { s.createError = QStringLiteral("No such file or directory"); },
       QStringLiteral("An Error occured. \n\nNo such file or directory"), {"Create"}},
      {"trace", [](Script& s) { s.traceOk = false; s.protocol = QStringLiteral("MX x.test: not found (NXDOMAIN)"); },
       QStringLiteral("An Error occured. \n\nMX x.test: not found (NXDOMAIN)"), {"Create", "Trace"}},
      {"spool", [](Script& s) { s.spoolOk = false; },
       QStringLiteral("An Error occured. \n\n'From' field can not be empty."), {"Create", "Trace", "Spool"}},
  };
  WriteSettings(spoolDir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script = Script();
    script.writeInto = Q(spoolDir);
    c.arrange(script);
    boxes.shown.clear();
    Open();
    RunWith(QStringLiteral("x@x.test"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(boxes.shown[0].text, c.text);
    EXPECT_EQ(script.calls, c.calls);
    ExpectReadyAgain();
  }
  EXPECT_TRUE(fs::is_empty(spoolDir));
}

// The address is stored when the test starts, an empty one too (its trace then fails).
TEST_F(TestObjectWindowTest, StoresTheAddressEvenWhenEmpty) {
  WriteSettings(spoolDir, "[Spooler]\nTestAddress=old@example.org\n");
  Open();
  RunWith(QStringLiteral("new@example.org"));
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Spooler", "TestAddress", "?"), "new@example.org");
  EXPECT_EQ(script.traceAddress, QStringLiteral("new@example.org"));

  script = Script();
  script.traceOk = false;
  script.protocol = QStringLiteral("Failed: Recipient");
  boxes.shown.clear();
  RunWith(QString());
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Spooler", "TestAddress", "?"), "");
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, QStringLiteral("An Error occured. \n\nFailed: Recipient"));
  EXPECT_EQ(script.calls, (std::vector<std::string>{"Create", "Trace"}));
}

TEST_F(TestObjectWindowTest, TheTraceAsksTheConfiguredOrTheSystemsDnsServers) {
  const std::vector<std::pair<std::string, QString>> cases = {
      {"", QStringLiteral("192.0.2.1,192.0.2.2")},
      {"DNSServer=<SYSTEM>\n", QStringLiteral("192.0.2.1,192.0.2.2")},
      {"DNSServer=<system>\n", QStringLiteral("192.0.2.1,192.0.2.2")},
      {"DNSServer=198.51.100.7,198.51.100.8:5353\n", QStringLiteral("198.51.100.7,198.51.100.8:5353")},
  };
  for (const auto& [entry, expected] : cases) {
    SCOPED_TRACE(entry);
    WriteSettings(spoolDir, entry);
    Open();
    RunWith(QStringLiteral("x@example.org"));
    EXPECT_EQ(script.dnsUrl, expected);
  }
}

TEST_F(TestObjectWindowTest, ButtonsAndCursorWhileTheTestRuns) {
  WriteSettings(spoolDir);
  Open();
  bool checked = false;
  script.duringTrace = [&] {
    checked = true;
    EXPECT_TRUE(window->busy());
    EXPECT_FALSE(Button("cmdOK")->isEnabled());
    EXPECT_FALSE(Button("cmdCancel")->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // The window stays while the test runs: closing and Esc are refused.
    window->close();
    QTest::keyClick(Address(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
  };
  script.traceOk = false;
  RunWith(QStringLiteral("x@example.org"));
  EXPECT_TRUE(checked);
  ExpectReadyAgain();
}

TEST_F(TestObjectWindowTest, TheMailTellsTheMachineTheDirectoriesAndTheModes) {
  WriteSettings(spoolDir + "/", "[Spooler]\nLogFileDir=/var/log/pv/\n");
  host.remoteSession = true;
  host.quietMode = true;
  host.startedAsService = true;
  Open();
  RunWith(QStringLiteral("x@example.org"));
  EXPECT_EQ(script.subject, QStringLiteral("Postvane Test eMail"));
  EXPECT_EQ(script.spoolAddress, QStringLiteral("x@example.org"));
  const QStringList expected = {
      QStringLiteral("Postvane COM Object and Spooler successfully tested."),
      QString(),
      QStringLiteral("Date: ") + Q(FormatGeneralDate(kNow)),
      QStringLiteral("Version: ") + VersionText(QStringLiteral(POSTVANE_VERSION)),
      QStringLiteral("Computername: box"),
      QStringLiteral("Domain Name: corp.example"),
      QStringLiteral("Lan Group Name: "),
      QString(),
      QStringLiteral("Spool Dir: ") + Q(spoolDir),
      QStringLiteral("Log Dir: /var/log/pv"),
      QStringLiteral("Remote Mode: Yes"),
      QStringLiteral("Debug Mode: No"),
      QStringLiteral("Quiet Mode: Yes"),
      QStringLiteral("Started as Service: Yes"),
      QString(),
      QStringLiteral("PVX.START: ") + Q(host.settingsFile) + QStringLiteral(" (File is attached to this eMail)"),
  };
  const QStringList lines = script.text.split('\n');
  ASSERT_EQ(lines.size(), expected.size()) << script.text.toStdString();
  for (qsizetype i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_FALSE(script.text.endsWith('\n'));
}

TEST_F(TestObjectWindowTest, TheLogDirectoryDefaultsToTheSpoolDirectory) {
  for (const auto& [logDefault, expected] : std::vector<std::pair<std::string, std::string>>{
           {"", spoolDir}, {"/var/log/postvane/", "/var/log/postvane"}}) {
    SCOPED_TRACE(logDefault);
    host.defaults.LogDirectory = logDefault;
    WriteSettings(spoolDir + "/");
    Open();
    RunWith(QStringLiteral("x@example.org"));
    EXPECT_TRUE(script.text.contains(QStringLiteral("\nLog Dir: ") + Q(expected) + '\n')) << script.text.toStdString();
  }
}

TEST(TestMailTest, VersionDigits) {
  const std::vector<std::pair<QString, QString>> cases = {
      {"0.1.0", "0.01.0000"}, {"2.0.224", "2.00.0224"}, {"1.12.3", "1.12.0003"},
      {"3", "3.00.0000"},     {"", "0.00.0000"},        {"10.5.12345", "10.05.12345"},
  };
  for (const auto& [dotted, text] : cases) EXPECT_EQ(VersionText(dotted), text) << dotted.toStdString();
}

class TestObjectDirectoryTest : public TestObjectWindowTest {
 protected:
  // Runs a test whose spool file lands in comDir while the settings name settingsDir.
  void RunWithDirectories(const std::string& settingsDir, const std::string& comDir) {
    WriteSettings(settingsDir);
    script.writeInto = Q(comDir);
    boxes.shown.clear();
    script.calls.clear();
    Open();
    RunWith(QStringLiteral("x@example.org"));
  }
};

TEST_F(TestObjectDirectoryTest, TheSameDirectoryWrittenDifferentlyCountsAsTheSame) {
  fs::create_directory_symlink(spoolDir, dir / "link");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {spoolDir, spoolDir},
      {spoolDir + "/", spoolDir},
      {spoolDir, spoolDir + "/"},
      {dir / "link", spoolDir},
      {dir / "link/", spoolDir},
      {dir.path() + "/./Spool", spoolDir},
  };
  for (const auto& [settingsDir, comDir] : cases) {
    SCOPED_TRACE(settingsDir + " vs " + comDir);
    RunWithDirectories(settingsDir, comDir);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Information);
    EXPECT_EQ(script.calls.back(), "RunSpooler");
    EXPECT_TRUE(fs::exists(script.written.toStdString()));
  }
}

TEST_F(TestObjectDirectoryTest, AnotherDirectoryLosesTheFileAndWarns) {
  const std::string lower = dir / "spool";  // another directory on Linux
  fs::create_directory(lower);
  for (const std::string& comDir : {lower, dir / "elsewhere"}) {
    SCOPED_TRACE(comDir);
    fs::create_directories(comDir);
    RunWithDirectories(spoolDir + "/", comDir);
    EXPECT_FALSE(fs::exists(script.written.toStdString()));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Warning. The spooler directory of the Spooler and the COM-Object are not the same!\n\n"
                             "\tPostvane Spooler:\t") + Q(spoolDir) +
                  QStringLiteral("\n\tPostvane COM-Object:\t") + Q(comDir) +
                  QStringLiteral("\n\nThe COM-Object might not be able to find or access 'pvx.start'."));
    EXPECT_EQ(script.calls, (std::vector<std::string>{"Create", "Trace", "Spool"}));
    ExpectReadyAgain();
  }
}

TEST_F(TestObjectDirectoryTest, SameDirectoryRules) {
  fs::create_directory(dir / "spool");
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {spoolDir, spoolDir + "//", true},
      {dir / "missing", dir / "missing/", true},        // neither exists: the cleaned paths
      {dir / "missing", dir / "a/../missing", true},
      {dir / "missing", dir / "Missing", false},
      {spoolDir, dir / "spool", false},
      {"/", "/", true},
  };
  for (const auto& [a, b, same] : cases) EXPECT_EQ(SameDirectory(Q(a), Q(b)), same) << a << " vs " << b;
}

TEST_F(TestObjectWindowTest, SuccessTellsTheFileAsksForARunAndCloses) {
  WriteSettings(spoolDir);
  std::vector<std::string> callsWhenShown;
  boxes.onShow = [&] { callsWhenShown = script.calls; };
  TestObjectWindow* shown = ShowTestObjectWindow(host);
  QPointer<TestObjectWindow> guard(shown);
  shown->findChild<QLineEdit*>(QStringLiteral("txteMailAddress"))->setText(QStringLiteral("x@example.org"));
  QTest::mouseClick(shown->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Information);
  EXPECT_EQ(boxes.shown[0].text, QStringLiteral("A test mime file named\n\n") + script.written +
                                     QStringLiteral("\n\nwas successfully created. The eMail will send out "
                                                    "with the next spooler cycle."));
  EXPECT_EQ(callsWhenShown, (std::vector<std::string>{"Create", "Trace", "Spool"}));
  EXPECT_EQ(script.calls, (std::vector<std::string>{"Create", "Trace", "Spool", "RunSpooler"}));
  EXPECT_TRUE(fs::exists(script.written.toStdString()));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
}

// The run request waits with events let through: a window closed meanwhile is not touched after.
TEST_F(TestObjectWindowTest, AWindowClosedWhileTheRunIsRequested) {
  WriteSettings(spoolDir);
  QPointer<TestObjectWindow> window = ShowTestObjectWindow(host);
  script.duringRun = [&] {
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(script.calls.back(), "RunSpooler");
}

TEST_F(TestObjectWindowTest, OneWindowPerProcess) {
  TestObjectWindow* first = ShowTestObjectWindow(host);
  QPointer<TestObjectWindow> guard(first);
  EXPECT_FALSE(first->isModal());
  first->showMinimized();
  EXPECT_EQ(ShowTestObjectWindow(host), first);
  EXPECT_FALSE(first->isMinimized());
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(guard.isNull());
  TestObjectWindow* second = ShowTestObjectWindow(host);
  EXPECT_TRUE(second->isVisible());
  second->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The mail carries a copy of the settings file under its own name, with the passwords blanked;
// the original keeps them, and the copy is gone after the spool call.
TEST_F(TestObjectWindowTest, TheAttachedSettingsAreACopyWithoutPasswords) {
  const std::string original =
      "[Settings]\nDefaultSpoolDir=" + spoolDir +
      "\nDNSServer=<SYSTEM>\n[Spooler]\nProxyUser=proxyuser\nProxyPassword=c2VjcmV0\n"
      "RelayPassword = b3RoZXI=\nrelaypassword=dHdpY2U=\n; ProxyPassword=comment\n"
      "[Other]\nPROXYPASSWORD=eA==\n";
  WriteFile(host.settingsFile, original);
  ::chmod(host.settingsFile.c_str(), 0644);
  Open();
  RunWith(QStringLiteral("x@example.org"));
  EXPECT_EQ(fs::path(script.attachmentPath.toStdString()).filename(), "postvane.start");
  EXPECT_NE(fs::path(script.attachmentPath.toStdString()).parent_path(), fs::path(dir.path()));
  EXPECT_EQ(script.attachmentMode, 0600u);
  EXPECT_EQ(script.attachmentBytes,
            "[Settings]\nDefaultSpoolDir=" + spoolDir +
                "\nDNSServer=<SYSTEM>\n[Spooler]\nProxyUser=proxyuser\nProxyPassword=\n"
                "RelayPassword =\nrelaypassword=\nTestAddress=x@example.org\n; ProxyPassword=comment\n"
                "[Other]\nPROXYPASSWORD=\n");
  EXPECT_FALSE(fs::exists(script.attachmentPath.toStdString()));
  EXPECT_FALSE(fs::exists(fs::path(script.attachmentPath.toStdString()).parent_path()));
  // The original: only the test address added.
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Spooler", "ProxyPassword", ""), "c2VjcmV0");
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Spooler", "RelayPassword", ""), "b3RoZXI=");
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Other", "ProxyPassword", ""), "eA==");
  EXPECT_EQ(fs::status(host.settingsFile).permissions() & fs::perms::mask, fs::perms(0644));
}

TEST(BlankSecretValuesTest, OnlyTheSecretValuesGo) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ProxyPassword=abc", "ProxyPassword="},
      {"[S]\r\nRelayPassword=abc\r\nRelayHostName=h\r\n", "[S]\r\nRelayPassword=\r\nRelayHostName=h\r\n"},
      {"  proxypassword\t= a=b ", "  proxypassword\t="},
      {"ProxyPasswordOld=abc\nXRelayPassword=abc\n", "ProxyPasswordOld=abc\nXRelayPassword=abc\n"},
      {"#RelayPassword=abc\n;ProxyPassword=abc\n[ProxyPassword=x]\n", "#RelayPassword=abc\n;ProxyPassword=abc\n[ProxyPassword=x]\n"},
      {"ProxyPassword\n", "ProxyPassword\n"},
      {"", ""},
  };
  for (const auto& [text, blanked] : cases) EXPECT_EQ(BlankSecretValues(text), blanked) << text;
}

TEST_F(TestObjectWindowTest, ASettingsFileThatCannotBeCopiedIsAnError) {
  host.settingsFile = dir / "no-such-dir/postvane.start";  // not even the address can be stored
  Open();
  RunWith(QStringLiteral("x@example.org"));
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("An Error occured. \n\n")));
  EXPECT_EQ(script.calls, (std::vector<std::string>{"Create", "Trace"}));
  ExpectReadyAgain();
}

}  // namespace
}  // namespace pv
