#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <filesystem>
#include <tuple>
#include <vector>

#include "../unit/temp_dir.h"
#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "desktop/service_offers.h"
#include "desktop/settings_window.h"
#include "fake_service_control.h"
#include "settings/ini_store.h"

namespace pv {
namespace {

using test::ReadFile;
using test::WriteFile;

// Answers the message boxes in turn (OK when no answer is left) and keeps what they said.
class Boxes {
 public:
  explicit Boxes(std::deque<QMessageBox::StandardButton> answers = {}) : answers_(std::move(answers)) {
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      shown.push_back(request);
      if (answers_.empty()) return QMessageBox::Ok;
      const QMessageBox::StandardButton answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
  }
  ~Boxes() { SetMessageAnswererForTests(nullptr); }
  std::vector<QString> texts() const {
    std::vector<QString> all;
    for (const MessageRequest& request : shown) all.push_back(request.text);
    return all;
  }
  std::vector<MessageRequest> shown;

 private:
  std::deque<QMessageBox::StandardButton> answers_;
};

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spoolDir = dir.path() + "/spool";
    std::filesystem::create_directory(spoolDir);
    host.settingsFile = dir.path() + "/pv.start";
    host.workingCopy = dir.path() + "/pv.start.tmp";
    host.defaults.ProgramDirectory = dir.path() + "/";
    host.defaults.DefaultReturnAddress = "me@example.org";
    host.reload = [this] { ++reloads; };
  }
  void TearDown() override { window.reset(); }

  void WriteSettings(const std::string& text) { WriteFile(host.settingsFile, text); }
  SettingsWindow& Open() {
    SettingsEdit::OpenResult opened = SettingsEdit::Open(host.settingsFile, host.workingCopy);
    EXPECT_NE(opened.edit, nullptr) << opened.detail.toStdString();
    window = std::make_unique<SettingsWindow>(host, std::move(opened.edit));
    return *window;
  }
  QLineEdit* Field(const char* name) { return window->findChild<QLineEdit*>(QString::fromLatin1(name)); }
  QAction* Action(const char* name) { return window->findChild<QAction*>(QString::fromLatin1(name)); }
  void Type(const char* name, const QString& text) {
    Field(name)->selectAll();
    QTest::keyClicks(Field(name), text);
  }
  bool WorkingCopyExists() const { return std::filesystem::exists(host.workingCopy); }

  test::TempDir dir;
  std::string spoolDir;
  SettingsWindowHost host;
  int reloads = 0;
  std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowTest, ShowsDefaultsWithoutASettingsFileAndStoredValuesOtherwise) {
  WriteFile(host.workingCopy, "[Spooler]\nUpDelay=999\n");  // left over; must not show
  Open();
  const std::vector<std::pair<const char*, QString>> defaults = {
      {"txtSpoolDir", QString::fromStdString(dir.path())}, {"txtExtension", "eml"}, {"txtDelay", "60"},
      {"txtRetryInterval", "10,10,10,60,120,240,480,720,1440"}, {"txtMaxRetry", "9"},
      {"txtDefaultReturnTo", "me@example.org"}};
  for (const auto& [name, text] : defaults) EXPECT_EQ(Field(name)->text(), text) << name;
  EXPECT_FALSE(window->findChild<QCheckBox*>("checkOnlyIfOnline")->isChecked());
  EXPECT_FALSE(window->edit().SettingsChanged);
  window.reset();

  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\nDefaultExtension=msg\nDefaultReturnTo=r@x.org\n"
                "[Spooler]\nUpDelay=120\nMAXRETRYCOUNT=3\nRetryInterval=5,5\nOnlyIfOnline=true\n"
                "DefaultReturnTo=other@x.org\n");
  Open();
  const std::vector<std::pair<const char*, QString>> stored = {
      {"txtSpoolDir", QString::fromStdString(spoolDir)}, {"txtExtension", "msg"}, {"txtDelay", "120"},
      {"txtRetryInterval", "5,5"}, {"txtMaxRetry", "3"}, {"txtDefaultReturnTo", "r@x.org"}};
  for (const auto& [name, text] : stored) EXPECT_EQ(Field(name)->text(), text) << name;
  EXPECT_TRUE(window->findChild<QCheckBox*>("checkOnlyIfOnline")->isChecked());
  EXPECT_EQ(window->objectName(), "frmSettings");
  EXPECT_EQ(window->windowTitle(), "Postvane");
  EXPECT_EQ(window->findChild<QLabel*>("lblInfo")->text(), "Postvane is running as System Tray Application");
  EXPECT_FALSE(Action("mServiceSettings")->isVisible());
  EXPECT_FALSE(Action("ml0")->isVisible());
}

TEST(RunModeLineTest, NamesTheRunMode) {
  const std::vector<std::tuple<bool, bool, bool, QString>> rows = {
      {true, true, false, "Postvane is running in a Remote Session"},
      {true, false, true, "Postvane is running in the Settings Mode"},
      {false, true, true, "Postvane is running as Windows Service"},
      {false, false, false, "Postvane is running as System Tray Application"}};
  for (const auto& [settingsMode, remote, service, line] : rows)
    EXPECT_EQ(RunModeLine(settingsMode, remote, service), line);
}

TEST_F(SettingsWindowTest, RefusesBadFieldsWithTheirMessageAndWritesNothing) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  Open();
  const std::string before = ReadFile(host.workingCopy);
  const std::vector<std::tuple<const char*, QString, QString>> rows = {
      {"txtSpoolDir", QString::fromStdString(dir.path() + "/gone"), "Spool Directory does not exist."},
      {"txtDelay", "59", "The time between two checks should be at least 60 seconds."},
      {"txtDelay", "", "The time between two checks should be at least 60 seconds."},
      {"txtRetryInterval", "", "There should be at least one value in Retry Interval."},
      {"txtExtension", "", "The extension of the mime files should be at least one char long."}};
  for (const auto& [name, bad, message] : rows) {
    SCOPED_TRACE(message.toStdString());
    const QString good = Field(name)->text();
    Field(name)->setText(bad);
    Boxes boxes;
    EXPECT_FALSE(window->ConfirmClose());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.shown[0].text, message);
    EXPECT_EQ(ReadFile(host.workingCopy), before);
    EXPECT_TRUE(window->findChild<QPushButton*>("cmdOK")->isEnabled());
    Field(name)->setText(good);
  }
}

TEST_F(SettingsWindowTest, ARefusedWriteKeepsTheWindowOpen) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  Open();
  std::filesystem::remove(host.workingCopy);
  std::filesystem::create_directory(host.workingCopy);  // every write into it fails
  Boxes boxes;
  EXPECT_FALSE(window->ConfirmClose());
  EXPECT_EQ(boxes.texts(), std::vector<QString>{QString::fromStdString(
                               "The setting Spooler/UpDelay could not be written to the working copy '" +
                               host.workingCopy + "'.")});
  EXPECT_EQ(ReadFile(host.settingsFile), "[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
}

TEST_F(SettingsWindowTest, StoresTheFieldsInTheirOrder) {
  WriteSettings("[Other]\nkeep=1\n");
  Open();
  Field("txtSpoolDir")->setText(QString::fromStdString(spoolDir));
  Field("txtDelay")->setText("60");
  Field("txtMaxRetry")->setText("");
  window->findChild<QCheckBox*>("checkOnlyIfOnline")->click();
  Boxes boxes({QMessageBox::Yes});
  ASSERT_TRUE(window->ConfirmClose());
  EXPECT_EQ(boxes.texts(), std::vector<QString>{"Do you want to save and use the changed settings?"});
  EXPECT_EQ(ReadFile(host.settingsFile),
            "[Other]\nkeep=1\n\n[Spooler]\nUpDelay=60\nRetryInterval=10,10,10,60,120,240,480,720,1440\n"
            "MaxRetryCount=0\nOnlyIfOnline=1\n\n[Settings]\nDefaultSpoolDir=" + spoolDir +
                "\nDefaultExtension=eml\nDefaultReturnTo=me@example.org\n");
  EXPECT_EQ(reloads, 1);
  EXPECT_FALSE(WorkingCopyExists());
}

TEST_F(SettingsWindowTest, ConfirmCloseFollowsTheAnswer) {
  const std::string original = "[Settings]\nDefaultSpoolDir=" + spoolDir + "\n[Spooler]\nUpDelay=90\n";
  struct Row {
    const char* what;
    bool edit;
    QMessageBox::StandardButton answer;
    bool closes, saved, workingCopyLeft;
  };
  const std::vector<Row> rows = {{"no change", false, QMessageBox::NoButton, true, false, false},
                                 {"yes", true, QMessageBox::Yes, true, true, false},
                                 {"no", true, QMessageBox::No, true, false, false},
                                 {"cancel", true, QMessageBox::Cancel, false, false, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteSettings(original);
    reloads = 0;
    Open();
    if (row.edit) Field("txtDelay")->setText("300");
    Boxes boxes({row.answer});
    EXPECT_EQ(window->ConfirmClose(), row.closes);
    EXPECT_EQ(boxes.shown.size(), row.edit ? 1u : 0u);
    EXPECT_EQ(ReadSettingLong(host.settingsFile, "Spooler", "UpDelay", 0), row.saved ? 300 : 90);
    EXPECT_EQ(reloads, row.saved ? 1 : 0);
    EXPECT_EQ(WorkingCopyExists(), row.workingCopyLeft);
    window.reset();
  }
}

TEST_F(SettingsWindowTest, AFailedSaveNamesTheBackupAndKeepsIt) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  Open();
  Field("txtExtension")->setText("msg");
  // The settings file turns into a directory: the copy back cannot replace it.
  std::filesystem::remove(host.settingsFile);
  std::filesystem::create_directory(host.settingsFile);
  Boxes boxes({QMessageBox::Yes});
  EXPECT_TRUE(window->ConfirmClose());
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].icon, QMessageBox::NoIcon);
  EXPECT_EQ(boxes.shown[1].text, QString::fromStdString("There was a critical error. Postvane was not able to access '" +
                                                        host.settingsFile + "'. There is a backup of your settings in '" +
                                                        host.workingCopy + "'."));
  EXPECT_EQ(ReadSettingString(host.workingCopy, "Settings", "DefaultExtension", ""), "msg");
  EXPECT_EQ(reloads, 0);
}

TEST_F(SettingsWindowTest, SaveSettingsAsksSavesAndStaysOpen) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  Open();
  Field("txtExtension")->setText("msg");
  {
    Boxes boxes({QMessageBox::No});
    window->SaveSettings();
    EXPECT_EQ(boxes.texts(), std::vector<QString>{"Save and activate all settings?"});
    EXPECT_EQ(ReadSettingString(host.settingsFile, "Settings", "DefaultExtension", "none"), "none");
  }
  Boxes boxes({QMessageBox::Yes});
  window->SaveSettings();
  EXPECT_EQ(boxes.texts(), (std::vector<QString>{"Save and activate all settings?", "Settings successfully saved."}));
  EXPECT_EQ(boxes.shown[1].icon, QMessageBox::Information);
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Settings", "DefaultExtension", ""), "msg");
  EXPECT_FALSE(window->edit().SettingsChanged);
  EXPECT_TRUE(WorkingCopyExists());
  EXPECT_EQ(reloads, 1);
}

TEST(ServiceOfferTest, OffersByStateAndSave) {
  const std::vector<std::tuple<int, bool, bool, QString>> rows = {
      {kServiceStopped, false, true, " is not started as windows service. Do you want to start the service now?"},
      {kServiceRunning, false, false, ""},
      {kServiceRunning, true, true,
       " is started as windows service. Do you want to restart the service to refresh with the new settings?"},
      {kServicePaused, false, true, " is paused. Do you want to continue the service?"},
      {2, true, false, ""}, {0, true, false, ""}};
  for (const auto& [state, saved, offered, question] : rows) {
    SCOPED_TRACE(state);
    const std::optional<ServiceOffer> offer = ServiceOfferFor(state, saved);
    ASSERT_EQ(offer.has_value(), offered);
    if (offer) {
      EXPECT_EQ(offer->question, question);
    }
  }
}

TEST_F(SettingsWindowTest, SettingsModeOffersTheServiceItsAction) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  host.settingsMode = true;
  FakeService service;
  host.service = &service;
  struct Row {
    int startType, state;
    bool succeeds;
    std::vector<std::string> calls;
    QString result;
  };
  const std::vector<Row> rows = {
      {kStartAutomatic, kServiceStopped, true, {"start"}, "Service successfully started."},
      {kStartOnDemand, kServicePaused, false, {"continue"}, "Error while continue service."},
      {4, kServiceStopped, true, {}, ""},
      {-1, kServiceStopped, true, {}, ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.state);
    service = FakeService();
    service.startType = row.startType;
    service.state = row.state;
    service.succeeds = row.succeeds;
    Open();
    Boxes boxes({QMessageBox::Yes});
    EXPECT_TRUE(window->ConfirmClose());
    EXPECT_EQ(service.calls, row.calls);
    if (row.result.isEmpty()) {
      EXPECT_TRUE(boxes.shown.empty());
    } else {
      ASSERT_EQ(boxes.shown.size(), 2u);
      EXPECT_EQ(boxes.shown[1].text, row.result);
      EXPECT_EQ(boxes.shown[1].icon, row.succeeds ? QMessageBox::Information : QMessageBox::Critical);
    }
    EXPECT_EQ(reloads, 0);
    window.reset();
  }
}

TEST_F(SettingsWindowTest, TrayModeNeverAsksAboutTheService) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  FakeService service;
  host.service = &service;
  Open();
  Boxes boxes;
  EXPECT_TRUE(window->ConfirmClose());
  EXPECT_TRUE(service.calls.empty());
  EXPECT_TRUE(boxes.shown.empty());
}

// The tray that shows the system service edits the service's settings: a save asks the service
// to read them again, and only a service that did not is offered a restart.
TEST_F(SettingsWindowTest, TheServicesOwnSettingsReloadItOrOfferARestart) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  host.reload = nullptr;
  host.isService = true;
  FakeService service;
  service.state = kServiceRunning;
  host.service = &service;
  for (const bool reloaded : {true, false}) {
    SCOPED_TRACE(reloaded);
    int reloadRequests = 0;
    host.reloadService = [&] { return ++reloadRequests, reloaded; };
    service.calls.clear();
    Open();
    Field("txtExtension")->setText(reloaded ? "msg" : "eml");
    Boxes boxes({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Ok});
    window->SaveSettings();
    EXPECT_EQ(reloadRequests, 1);
    const std::vector<std::string> restart = {"stop", "start"};
    EXPECT_EQ(service.calls, reloaded ? std::vector<std::string>() : restart);
    window.reset();
  }
}

TEST_F(SettingsWindowTest, EditsAreLockedAndUnreadableSettingsRefused) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  Open();
  const SettingsEdit::OpenResult second = SettingsEdit::Open(host.settingsFile, host.workingCopy);
  EXPECT_EQ(second.edit, nullptr);
  EXPECT_EQ(second.failure, SettingsEdit::OpenFailure::Locked);
  window.reset();
  EXPECT_NE(SettingsEdit::Open(host.settingsFile, host.workingCopy).edit, nullptr);

  std::filesystem::remove(host.settingsFile);
  std::filesystem::create_directory(host.settingsFile);  // exists, cannot be read as a file
  const SettingsEdit::OpenResult unreadable = SettingsEdit::Open(host.settingsFile, host.workingCopy);
  EXPECT_EQ(unreadable.failure, SettingsEdit::OpenFailure::Unreadable);
  Boxes boxes;
  EXPECT_EQ(ShowSettingsWindow(host), nullptr);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_TRUE(boxes.shown[0].text.startsWith(QString::fromStdString("The settings file '" + host.settingsFile +
                                                                     "' cannot be read")));
}

// A settings window in another process holds the working copy: this one cannot open it.
TEST_F(SettingsWindowTest, AnotherProcessHoldsTheEdit) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  QProcess other;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("POSTVANE_SETTINGS", QString::fromStdString(host.settingsFile));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("HOME", QString::fromStdString(dir.path()));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path()));
  env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
  env.remove("SSH_CONNECTION");
  other.setProcessEnvironment(env);
  other.start(QStringLiteral(POSTVANE_BINARY), {"settingsmode=1"});
  ASSERT_TRUE(other.waitForStarted());
  const std::string lock = host.workingCopy + ".lock";
  for (int i = 0; i < 100 && !std::filesystem::exists(lock); ++i) QTest::qWait(50);
  ASSERT_TRUE(std::filesystem::exists(lock));
  const SettingsEdit::OpenResult opened = SettingsEdit::Open(host.settingsFile, host.workingCopy);
  EXPECT_EQ(opened.failure, SettingsEdit::OpenFailure::Locked);
  EXPECT_TRUE(opened.detail.contains(QString::number(other.processId()))) << opened.detail.toStdString();
  other.kill();
  other.waitForFinished();
  // A lock left by a dead process is free again.
  EXPECT_NE(SettingsEdit::Open(host.settingsFile, host.workingCopy).edit, nullptr);
}

TEST_F(SettingsWindowTest, OneWindowPerProcessAndItsSmallCommands) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  int spoolNows = 0;
  host.spoolNow = [&spoolNows] { ++spoolNows; };
  SettingsWindow* first = ShowSettingsWindow(host);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ShowSettingsWindow(host), first);
  QTest::mouseDClick(first->findChild<QLabel*>("Image1"), Qt::LeftButton);
  EXPECT_EQ(spoolNows, 1);
  first->findChild<QLineEdit*>("txtExtension")->setText("msg");
  {
    Boxes boxes({QMessageBox::Yes});  // the spooler ends: save the changes?
    first->SaveBeforeEnd();
    EXPECT_EQ(boxes.texts(), std::vector<QString>{"Do you want to save and use the changed settings?"});
  }
  EXPECT_EQ(ReadSettingString(host.settingsFile, "Settings", "DefaultExtension", ""), "msg");
  Boxes boxes;
  QTest::mouseClick(first->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(OpenSettingsWindow(), nullptr);
}

}  // namespace
}  // namespace pv

namespace pv {
namespace {

// Takes the URLs QDesktopServices hands to the "file" scheme.
class TopicCatcher : public QObject {
  Q_OBJECT
 public:
  TopicCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
  ~TopicCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  std::vector<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(SettingsWindowTest, KeyboardReachesEveryCommand) {
  WriteSettings("[Settings]\nDefaultSpoolDir=" + spoolDir + "\n");
  SettingsWindow* shown = ShowSettingsWindow(host);
  ASSERT_NE(shown, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(shown));
  SetBrowserFinderForTests([] { return QStringLiteral("test-browser.desktop"); });
  {
    const TopicCatcher catcher;
    QTest::keyClick(shown, Qt::Key_F1);
    QTest::keyClick(shown, Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_EQ(catcher.urls, (std::vector<QUrl>{HelpTopicUrl("Spooler.htm", "MainSettings"),
                                               HelpTopicUrl("COMObject.htm", "COM1")}));
  }
  SetBrowserFinderForTests({});

  const std::vector<QString> order = {"txtSpoolDir", "cmdSelectSpoolDir", "cmdShowSpoolDir", "txtExtension",
                                      "txtDelay", "checkOnlyIfOnline", "txtMaxRetry", "txtRetryInterval",
                                      "txtDefaultReturnTo", "cmdOK"};
  shown->findChild<QWidget*>(order.front())->setFocus();
  std::vector<QString> visited;
  for (std::size_t i = 0; i < order.size(); ++i) {
    visited.push_back(QApplication::focusWidget()->objectName());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited, order);

  // Alt+C is "Close": without changes it closes without a question.
  Boxes boxes;
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return OpenSettingsWindow() == nullptr;
  }));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_FALSE(WorkingCopyExists());
}

}  // namespace
}  // namespace pv

#include "settings_window_test.moc"
