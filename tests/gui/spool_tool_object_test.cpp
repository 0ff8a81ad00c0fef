// The real scripting object: postvane-spool run as a process, its time limit, its messages, how
// it is found; and the test window with it end to end (an address literal needs no DNS).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <regex>

#include "../unit/temp_dir.h"
#include "desktop/message_box.h"
#include "desktop/test_object_window.h"
#include "scripting/client/spool_tool_object.h"

namespace pv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;
using test::WriteFile;

QString Q(const std::string& text) { return QString::fromStdString(text); }

TEST(RunToolTest, InputExitCodeAndOutputs) {
  const ToolRun run = RunTool(QStringLiteral("/bin/sh"), {"-c", "cat; echo oops >&2; exit 3"},
                              "line one\nline two\n", std::chrono::seconds(20));
  EXPECT_TRUE(run.finished) << run.failure.toStdString();
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, QByteArray("line one\nline two\n"));
  EXPECT_EQ(run.err, QByteArray("oops\n"));
}

TEST(RunToolTest, AToolThatHangsIsStoppedAtItsLimit) {
  const ToolRun run =
      RunTool(QStringLiteral("/bin/sh"), {"-c", "echo started; exec sleep 60"}, {}, std::chrono::milliseconds(300));
  EXPECT_FALSE(run.finished);
  EXPECT_EQ(run.failure, QStringLiteral("postvane-spool did not finish within 1 seconds and was stopped."));
  EXPECT_EQ(run.out, QByteArray("started\n"));
}

TEST(RunToolTest, AProgramThatCannotStart) {
  test::TempDir dir;
  const ToolRun run = RunTool(Q(dir / "missing"), {}, {}, std::chrono::seconds(5));
  EXPECT_FALSE(run.finished);
  EXPECT_FALSE(run.failure.isEmpty());
}

TEST(ToolMessageTest, TheToolsOwnLines) {
  const std::vector<std::pair<QByteArray, QString>> cases = {
      {"postvane-spool: 'From' field can not be empty.\n", "'From' field can not be empty."},
      {"postvane-spool: mail: --to is required\nusage: postvane-spool mail ...\n  --cc LIST\n",
       "mail: --to is required"},
      {"postvane-spool: one\npostvane-spool: two\n", "one\ntwo"},
      {"  something else entirely \n", "something else entirely"},
      {"", ""},
  };
  for (const auto& [err, message] : cases) EXPECT_EQ(ToolMessage(err), message) << err.toStdString();
}

TEST(FindSpoolToolTest, BesideTheProgramThenOnThePath) {
  test::TempDir dir;
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "path");
  const auto executable = [](const std::string& path) {
    WriteFile(path, "#!/bin/sh\n");
    fs::permissions(path, fs::perms(0755));
  };
  const ScopedEnv path("PATH", (dir / "path").c_str());
  EXPECT_EQ(FindSpoolTool(Q(dir / "bin/postvane")), QString());
  SpoolToolObject object(Q(dir / "bin/postvane"));
  EXPECT_EQ(object.Create(), QStringLiteral("No such file or directory"));

  executable(dir / "path/postvane-spool");
  EXPECT_EQ(FindSpoolTool(Q(dir / "bin/postvane")), Q(dir / "path/postvane-spool"));
  WriteFile(dir / "bin/postvane-spool", "not executable");
  EXPECT_EQ(FindSpoolTool(Q(dir / "bin/postvane")), Q(dir / "path/postvane-spool"));
  executable(dir / "bin/postvane-spool");
  EXPECT_EQ(FindSpoolTool(Q(dir / "bin/postvane")), Q(dir / "bin/postvane-spool"));
  EXPECT_EQ(FindSpoolTool(QString()), Q(dir / "path/postvane-spool"));
  EXPECT_EQ(object.Create(), QString());
  EXPECT_EQ(object.tool(), Q(dir / "bin/postvane-spool"));
}

// The attachment's content: the base64 lines after its filename parameter, decoded.
std::string Attachment(const std::string& mail, const std::string& name) {
  const std::size_t at = mail.find("filename=\"" + name + "\"");
  if (at == std::string::npos) return "";
  const std::size_t start = mail.find("\r\n\r\n", at);
  const std::size_t end = mail.find("\r\n--", start);
  if (start == std::string::npos || end == std::string::npos) return "";
  return QByteArray::fromBase64(QByteArray::fromStdString(mail.substr(start + 4, end - start - 4)))
      .toStdString();
}

// The window with the real postvane-spool, no spooler running: the tool finds the spool
// directory in the settings file, writes the test mail there with the blanked copy attached.
class RealToolWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spoolDir = dir / "spool";
    fs::create_directories(spoolDir);
    fs::create_directories(dir / "run");
    settingsFile = dir / "postvane.start";
    WriteFile(settingsFile, "[Settings]\nDefaultSpoolDir=" + spoolDir + "/\nDefaultExtension=eml\n"
                            "[Spooler]\nProxyUser=u\nProxyPassword=c2VjcmV0\nRelayPassword=b3RoZXI=\n");
    host.settingsFile = settingsFile;
    host.defaults.ProgramDirectory = dir.path() + "/";
    // The program beside which postvane-spool is found.
    host.programPath = QFileInfo(QStringLiteral(POSTVANE_SPOOL_BINARY)).absolutePath().toStdString() + "/postvane";
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      shown.push_back(request);
      return QMessageBox::Ok;
    });
  }
  void TearDown() override { SetMessageAnswererForTests(nullptr); }

  void RunWith(TestObjectWindow& window, const QString& address) {
    window.findChild<QLineEdit*>(QStringLiteral("txteMailAddress"))->setText(address);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
  }
  std::vector<std::string> SpoolFiles() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(spoolDir)) files.push_back(entry.path().string());
    return files;
  }

  test::TempDir dir;
  std::string spoolDir, settingsFile;
  const ScopedEnv settings{"POSTVANE_SETTINGS", (dir / "postvane.start").c_str()};
  const ScopedEnv runtime{"POSTVANE_RUNTIME_DIR", (dir / "run").c_str()};
  const ScopedEnv home{"POSTVANE_HOME", (dir / "home").c_str()};
  TestObjectHost host;
  std::vector<MessageRequest> shown;
};

TEST_F(RealToolWindowTest, SpoolsTheTestMailWithTheBlankedSettings) {
  TestObjectWindow window(host);
  window.show();
  RunWith(window, QStringLiteral("tester@[127.0.0.1]"));
  ASSERT_EQ(shown.size(), 1u);
  ASSERT_EQ(shown[0].icon, QMessageBox::Information) << shown[0].text.toStdString();
  const std::vector<std::string> files = SpoolFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(fs::path(files[0]).filename().string(), std::regex(R"(\d{8}-\d{6}-\d+-[0-9a-f]{8}\.eml)")));
  EXPECT_TRUE(shown[0].text.contains(Q(files[0]))) << shown[0].text.toStdString();
  EXPECT_FALSE(window.isVisible());

  const std::string mail = ReadFile(files[0]);
  for (const char* part :
       {"\r\nTo: tester@[127.0.0.1]\r\n", "\r\nFrom: tester@[127.0.0.1]\r\n", "\r\nSubject: Postvane Test eMail\r\n",
        "\r\n\r\nPostvane COM Object and Spooler successfully tested.\r\n\r\nDate: ",
        "\r\nLan Group Name: \r\n\r\nSpool Dir: ", "\r\nStarted as Service: No\r\n\r\nPVX.START: "})
    EXPECT_NE(mail.find(part), std::string::npos) << part << "\n" << mail;
  EXPECT_NE(mail.find("\r\nSpool Dir: " + spoolDir + "\r\nLog Dir: " + spoolDir + "\r\n"), std::string::npos) << mail;
  EXPECT_NE(mail.find("PVX.START: " + settingsFile + " (File is attached to this eMail)"), std::string::npos);
  const std::string attached = Attachment(mail, "postvane.start");
  EXPECT_NE(attached.find("\nProxyUser=u\nProxyPassword=\nRelayPassword=\n"), std::string::npos) << attached;
  EXPECT_NE(attached.find("TestAddress=tester@[127.0.0.1]"), std::string::npos) << attached;
  EXPECT_NE(ReadFile(settingsFile).find("ProxyPassword=c2VjcmV0"), std::string::npos);
}

TEST_F(RealToolWindowTest, AFailedTraceShowsTheToolsProtocol) {
  TestObjectWindow window(host);
  window.show();
  RunWith(window, QStringLiteral("no-at-sign"));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
  EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("An Error occured. \n\n")));
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral("Failed: Sender \"no-at-sign\": invalid address")))
      << shown[0].text.toStdString();
  EXPECT_FALSE(shown[0].text.contains(QStringLiteral("exit code"))) << shown[0].text.toStdString();
  EXPECT_TRUE(SpoolFiles().empty());
  EXPECT_TRUE(window.isVisible());
}

TEST_F(RealToolWindowTest, AMissingToolIsTheCreationError) {
  host.programPath = dir / "bin/postvane";
  const ScopedEnv path("PATH", (dir / "bin").c_str());
  TestObjectWindow window(host);
  window.show();
  RunWith(window, QStringLiteral("tester@[127.0.0.1]"));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QStringLiteral("An Error occured. \n\nNo such file or directory"));
  EXPECT_TRUE(window.isVisible());
}

}  // namespace
}  // namespace pv
