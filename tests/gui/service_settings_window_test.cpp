#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../unit/temp_dir.h"
#include "desktop/dialog_plumbing.h"
#include "desktop/message_box.h"
#include "desktop/service_settings_window.h"
#include "fake_service_control.h"
#include "service_window_boxes.h"
#include "platform/autostart_entry.h"
#include "settings_dialog_fixture.h"

namespace pv {
namespace {

namespace fs = std::filesystem;

class AutostartAndServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    util.ServiceName = "PostvaneSpooler";
    util.ServiceDisplayName = "Postvane Mail Spooler";
    util.ServiceDescription = "Sends the mails of the spool directory";
    util.ServiceFilename = "/usr/bin/postvane";
    util.NTCommandLine = "/usr/bin/postvane service=1";
    util.RUNCommandLine = "/usr/bin/postvane";
    util.service = &service;
    util.hasServiceManager = true;
    util.isRemoteSession = [this] { return remote; };
    service.startType = kNoSuchService;
    service.followsRequests = true;
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      boxes.push_back({request.icon, request.text});
      requests.push_back(request);
      const QCursor* cursor = QApplication::overrideCursor();
      boxCursors.push_back(cursor ? cursor->shape() : Qt::ArrowCursor);
      if (answers.empty()) return QMessageBox::Ok;
      const QMessageBox::StandardButton answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  void TearDown() override {
    window.reset();
    SetMessageAnswererForTests({});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }

  ServiceSettingsWindow& Open() {
    window = std::make_unique<ServiceSettingsWindow>(util);
    window->show();
    return *window;
  }
  template <typename Control = QWidget>
  Control* Find(const QString& name) {
    auto* control = window->findChild<Control*>(name);
    EXPECT_NE(control, nullptr) << name.toStdString();
    return control;
  }
  QRadioButton* Option(int index) { return Find<QRadioButton>(QString("optAutostart(%1)").arg(index)); }
  int SelectedOption() {
    for (int i = 0; i < 3; ++i)
      if (Option(i)->isChecked()) return i;
    return -1;
  }
  void Click(const char* name) { QTest::mouseClick(Find(name), Qt::LeftButton); }
  QString StateLabel() { return Find<QLabel>("lblServiceState")->text(); }
  QComboBox* StartTypes() { return Find<QComboBox>("cboStartType"); }
  // Start, Stop, Pause, Continue as "1" on, "0" off.
  std::string ControlButtons() {
    std::string on;
    for (const char* name : {"cmdStart", "cmdStop", "cmdPause", "cmdContinue"})
      on += Find(name)->isEnabled() ? '1' : '0';
    return on;
  }
  std::vector<Box> TakeBoxes() {
    std::vector<Box> shown;
    shown.swap(boxes);
    return shown;
  }
  static void WriteEntry() { ASSERT_FALSE(CreateAutostartEntry("/usr/bin/postvane", {})); }
  static bool EntryExists() { return fs::exists(AutostartEntryPath()); }
  void Installed(int state = kServiceStopped) {
    service.startType = kStartAutomatic;
    service.state = state;
  }

  test::TempDir dir;
  test::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() + "/config").c_str()};
  FakeService service;
  ServiceUtility util;
  bool remote = false;
  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Box> boxes;
  std::vector<MessageRequest> requests;
  std::vector<Qt::CursorShape> boxCursors;
  std::unique_ptr<ServiceSettingsWindow> window;
};

TEST_F(AutostartAndServiceTest, ControlsCarryTheirNamesAndCaptions) {
  Open();
  EXPECT_EQ(window->objectName(), "frmServiceSettings");
  EXPECT_EQ(window->windowTitle(), "Autostart and Service Settings");
  const std::vector<std::pair<QString, QString>> captions = {
      {"optAutostart(2)", "Start as Windows Service"},
      {"optAutostart(1)", "Start when user logs in (Windows Autostart Group)"},
      {"optAutostart(0)", "No Autostart"},
      {"cmdSetAutostart", "&Change Now"},
      {"cmdStart", "&Start"},
      {"cmdStop", "S&top"},
      {"cmdPause", "&Pause"},
      {"cmdContinue", "&Continue"},
      {"cmdOK", "OK"},
      {"cmdCancel", "Cancel"},
      {"cmdHelp", "&Help"}};
  for (const auto& [name, caption] : captions) {
    auto* button = Find<QAbstractButton>(name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), caption) << name.toStdString();
  }
  EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Autostart Settings");
  EXPECT_EQ(Find<QGroupBox>("Frame1")->title(), "Service Control (Windows NT, W2K, XP and higher)");
  EXPECT_TRUE(Option(2)->toolTip().contains("PostvaneSpooler.service"));
  EXPECT_TRUE(Option(1)->toolTip().contains("Postvane.desktop"));
  EXPECT_TRUE(Find<QLineEdit>("txtExename")->isReadOnly());
  QComboBox* types = StartTypes();
  ASSERT_EQ(types->count(), 3);
  const std::vector<std::pair<QString, int>> entries = {{"Automatic", 2}, {"Manual", 3}, {"Disabled", 4}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(types->itemText(i), entries[i].first);
    EXPECT_EQ(types->itemData(i).toInt(), entries[i].second);
  }
  auto* timer = Find<QTimer>("Timer1");
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 1000);
}

TEST_F(AutostartAndServiceTest, StartTypeDecidesLabelListAndOption) {
  struct Row {
    int startType;
    QString label;  // after the load, the state display included
    int listIndex;
    bool listEnabled;
    int option;
    std::string buttons;
  };
  const QString unreadable = "Can query the settings of the service in the Windows SCM.";
  const std::vector<Row> rows = {
      {-4, unreadable, 2, false, 0, "0000"},
      {-3, unreadable, 2, false, 0, "0000"},
      {-2, "Can not find service in the Windows SCM.", 2, false, 0, "0000"},
      {-1, "Can not open the Windows SCM.", 2, false, 0, "0000"},
      // A boot or system start type counts as installed: the state display follows it.
      {0, "Stopped", 2, false, 2, "1000"},
      {1, "Stopped", 2, false, 2, "1000"},
      {2, "Stopped", 0, true, 2, "1000"},
      {3, "Stopped", 1, true, 2, "1000"},
      {4, "Stopped", 2, true, 2, "1000"},
      {9, "Unknown Start Type. Please choose any other.", 2, false, 0, "0000"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.startType);
    service.startType = row.startType;
    Open();
    EXPECT_EQ(StateLabel(), row.label);
    EXPECT_EQ(StartTypes()->currentIndex(), row.listIndex);
    EXPECT_EQ(StartTypes()->isEnabled(), row.listEnabled);
    EXPECT_EQ(SelectedOption(), row.option);
    EXPECT_EQ(window->CurrentAutostartMode(), row.option);
    EXPECT_EQ(ControlButtons(), row.buttons);
    EXPECT_EQ(Find<QLabel>("lblName")->text(), "PostvaneSpooler");
    EXPECT_EQ(Find<QLineEdit>("txtDisplayName")->text(), "Postvane Mail Spooler");
    EXPECT_EQ(Find<QLineEdit>("txtDescription")->text(), "Sends the mails of the spool directory");
    EXPECT_EQ(Find<QLineEdit>("txtExename")->text(), "/usr/bin/postvane");
  }
  EXPECT_TRUE(service.calls.empty());
}

TEST_F(AutostartAndServiceTest, AutostartEntryWinsOverTheServiceUnlessSwitchedOff) {
  Installed();
  WriteEntry();
  Open();
  EXPECT_EQ(SelectedOption(), 1);
  EXPECT_EQ(window->CurrentAutostartMode(), 1);
  // An entry the desktop switched off starts nothing: it does not count.
  test::WriteFile(AutostartEntryPath(), "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n");
  Open();
  EXPECT_EQ(SelectedOption(), 2);
}

TEST_F(AutostartAndServiceTest, WithoutServiceManagerOnlyTheAutostartEntryRemains) {
  util.hasServiceManager = false;
  util.service = nullptr;
  Open();
  for (const char* name : {"txtDisplayName", "txtDescription", "txtExename"})
    EXPECT_EQ(Find<QLineEdit>(name)->text(), "Not Available") << name;
  EXPECT_EQ(Find<QLabel>("lblName")->text(), "Not Available");
  EXPECT_EQ(StateLabel(), "Not Available");
  EXPECT_FALSE(StartTypes()->isEnabled());
  EXPECT_EQ(StartTypes()->currentIndex(), 2);
  EXPECT_EQ(ControlButtons(), "0000");
  EXPECT_FALSE(Option(2)->isEnabled());
  EXPECT_EQ(SelectedOption(), 0);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());

  Option(1)->setChecked(true);
  EXPECT_TRUE(window->SetAutoStart(true));
  EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kAddedToGroup)});
  EXPECT_TRUE(EntryExists());
  Open();
  EXPECT_EQ(SelectedOption(), 1);
  Option(0)->setChecked(true);
  Click("cmdOK");
  EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kRemovedFromGroup)});
  EXPECT_FALSE(EntryExists());
  EXPECT_FALSE(window->isVisible());
}

TEST_F(AutostartAndServiceTest, ServiceStateDecidesLabelAndButtons) {
  const std::vector<std::pair<QString, std::string>> rows = {
      {"Unknown", "0000"},      {"Stopped", "1000"},      {"Start pending", "0000"},
      {"Stop pending", "0000"}, {"Running", "0110"},      {"Continue pending", "0000"},
      {"Pause pending", "0000"}, {"Paused", "0101"}};
  Installed();
  for (int state = 0; state < static_cast<int>(rows.size()); ++state) {
    SCOPED_TRACE(state);
    service.state = state;
    Open();
    EXPECT_EQ(StateLabel(), rows[state].first);
    EXPECT_EQ(ControlButtons(), rows[state].second);
  }
  // The timer follows the service once a second.
  service.state = kServiceRunning;
  EXPECT_TRUE(QTest::qWaitFor([&] { return StateLabel() == "Running"; }, 5000));
  EXPECT_EQ(ControlButtons(), "0110");
}

struct ModeRow {
  const char* name;
  int startType;      // before: kNoSuchService or kStartAutomatic
  int state;          // of the installed service
  bool entry;         // the autostart entry exists before
  int select;         // the option chosen
  std::vector<std::string> calls;
  std::vector<Box> boxes;
  bool entryAfter;
  int modeAfter;
};

TEST_F(AutostartAndServiceTest, EveryChangeOfModeTakesItsSteps) {
  const std::vector<ModeRow> rows = {
      {"none to login", kNoSuchService, 1, false, 1, {}, {Info(kAddedToGroup)}, true, 1},
      {"none to service", kNoSuchService, 1, false, 2, {"install 2"}, {Info(kAddedToScm)}, false, 2},
      {"login to none", kNoSuchService, 1, true, 0, {}, {Info(kRemovedFromGroup)}, false, 0},
      {"login to service", kNoSuchService, 1, true, 2, {"install 2"}, {Info(kAddedToScm)}, false, 2},
      {"running service to none", kStartAutomatic, 4, false, 0, {"stop", "uninstall"},
       {Info(kNotBooted)}, false, 0},
      {"stopped service to none", kStartAutomatic, 1, false, 0, {"uninstall"}, {Info(kNotBooted)},
       false, 0},
      {"paused service to login", kStartAutomatic, 7, false, 1, {"stop", "uninstall"},
       {Info(kAddedToGroup)}, true, 1},
      {"both to none", kStartAutomatic, 4, true, 0, {"stop", "uninstall"},
       {Info(kNotBooted), Info(kRemovedFromGroup)}, false, 0},
      // The service is there already: its install fails, which is told, yet nothing failed.
      {"both to service", kStartAutomatic, 4, true, 2, {"install 2"},
       {Error("There was an error adding Postvane to the Windows SCM.")}, false, 2}};
  for (const ModeRow& row : rows) {
    SCOPED_TRACE(row.name);
    service = FakeService();
    service.followsRequests = true;
    service.startType = row.startType;
    service.state = row.state;
    if (row.startType == kStartAutomatic && row.select == 2) service.failing = {"install"};
    RemoveAutostartEntry();
    if (row.entry) WriteEntry();
    Open();
    Option(row.select)->setChecked(true);
    EXPECT_TRUE(window->SetAutoStart(true));
    EXPECT_EQ(service.calls, row.calls);
    EXPECT_EQ(TakeBoxes(), row.boxes);
    EXPECT_EQ(EntryExists(), row.entryAfter);
    EXPECT_EQ(window->CurrentAutostartMode(), row.modeAfter);
    EXPECT_EQ(SelectedOption(), row.modeAfter);
    // Change Now again: the mode is in force.
    Click("cmdSetAutostart");
    EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kNothingToDo)});
    EXPECT_TRUE(window->isVisible());
  }
}

TEST_F(AutostartAndServiceTest, ActiveModeIsNothingToDoAndOkClosesSilently) {
  Open();
  Click("cmdSetAutostart");
  EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kNothingToDo)});
  Click("cmdOK");
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->result(), QDialog::Accepted);
  EXPECT_TRUE(service.calls.empty());
}

TEST_F(AutostartAndServiceTest, StoppingThisProcessIsAskedFirst) {
  util.StartedAsService = true;
  Installed(kServiceRunning);
  Open();
  Option(0)->setChecked(true);
  answers = {QMessageBox::No};
  EXPECT_FALSE(window->SetAutoStart(true));
  EXPECT_EQ(TakeBoxes(), (std::vector<Box>{{QMessageBox::Question, kStopQuestion}}));
  EXPECT_EQ(requests.back().buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(requests.back().defaultButton, QMessageBox::No);
  EXPECT_TRUE(service.calls.empty());
  EXPECT_EQ(window->CurrentAutostartMode(), 2);

  // Declined again under OK: the window stays open and says so.
  Option(0)->setChecked(true);
  answers = {QMessageBox::No};
  Click("cmdOK");
  EXPECT_EQ(TakeBoxes(), (std::vector<Box>{{QMessageBox::Question, kStopQuestion},
                                           Error("Error while changing autostart settings.")}));
  EXPECT_TRUE(window->isVisible());

  // Stop asks the same; Yes stops.
  answers = {QMessageBox::No, QMessageBox::Yes};
  Click("cmdStop");
  Click("cmdStop");
  EXPECT_EQ(TakeBoxes(), (std::vector<Box>{{QMessageBox::Question, kStopQuestion},
                                           {QMessageBox::Question, kStopQuestion}}));
  EXPECT_EQ(service.calls, std::vector<std::string>{"stop"});

  // Another process's service is stopped without a question.
  util.StartedAsService = false;
  Installed(kServiceRunning);
  service.calls.clear();
  Open();
  Option(0)->setChecked(true);
  EXPECT_TRUE(window->SetAutoStart(false));
  EXPECT_EQ(service.calls, (std::vector<std::string>{"stop", "uninstall"}));
  EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kNotBooted)});
}

TEST_F(AutostartAndServiceTest, FailedStepsAreToldAndStopTheChange) {
  struct Row {
    const char* name;
    int startType, state, select;
    bool entry;
    const char* failing;  // the request that fails, "" none
    bool brokenEntry;     // the entry cannot be written or removed
    std::vector<std::string> calls;
    std::vector<Box> boxes;
    int modeAfter;        // what is in force afterwards
  };
  const Box scmRemove = Error("There was an error removing Postvane from the Windows SCM.");
  const Box groupRemove = Error("There was an error removing Postvane from the Windows Autostart Group.");
  const Box groupAdd = Error("There was an error adding Postvane to the Windows Autostart Group.");
  const Box scmAdd = Error("There was an error adding Postvane to the Windows SCM.");
  const std::vector<Row> rows = {
      {"stop fails", kStartAutomatic, 4, 0, false, "stop", false, {"stop"},
       {Error("Error while stopping service.")}, 2},
      {"uninstall fails, none", kStartAutomatic, 1, 0, true, "uninstall", false, {"uninstall"},
       {Error("There was an error uninstalling Postvane as a Windows Service."), Info(kRemovedFromGroup)}, 2},
      {"uninstall fails, login", kStartAutomatic, 1, 1, false, "uninstall", false, {"uninstall"},
       {scmRemove}, 2},
      {"entry not removed, none", kNoSuchService, 1, 0, true, "", true, {}, {groupRemove}, 0},
      {"entry not removed, service", kNoSuchService, 1, 2, true, "", true, {}, {groupRemove}, 0},
      // The service is gone, the entry is not written: nothing would start the spooler.
      {"entry not written", kStartAutomatic, 1, 1, false, "", true, {"uninstall"}, {groupAdd}, 0},
      // The entry is gone, the service is not installed: the same.
      {"install fails", kNoSuchService, 1, 2, true, "install", false, {"install 2"}, {scmAdd}, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    service = FakeService();
    service.followsRequests = true;
    service.startType = row.startType;
    service.state = row.state;
    if (*row.failing) service.failing = {row.failing};
    fs::remove_all(dir.path() + "/config");
    if (row.entry) WriteEntry();
    Open();
    if (row.brokenEntry) {
      // A directory with something in it where the entry goes: it can be neither removed nor
      // written; a file in the autostart directory's place: nothing can be made in it.
      if (row.entry) {
        fs::remove(AutostartEntryPath());
        fs::create_directories(AutostartEntryPath() + "/x");
      } else {
        fs::create_directories(dir.path() + "/config");
        test::WriteFile(dir.path() + "/config/autostart", "");
      }
    }
    Option(row.select)->setChecked(true);
    EXPECT_FALSE(window->SetAutoStart(true));
    EXPECT_EQ(service.calls, row.calls);
    EXPECT_EQ(TakeBoxes(), row.boxes);
    EXPECT_EQ(window->CurrentAutostartMode(), row.modeAfter);
    // OK tells that the change failed and stays open.
    if (window->CurrentAutostartMode() == row.select) continue;
    service.failing.clear();
    service.succeeds = false;
    Option(row.select)->setChecked(true);
    Click("cmdOK");
    EXPECT_TRUE(window->isVisible());
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), Error("Error while changing autostart settings."));
    boxes.clear();
  }
}

TEST_F(AutostartAndServiceTest, RemovingAMissingEntryIsSuccess) {
  WriteEntry();
  Open();
  ASSERT_EQ(SelectedOption(), 1);
  fs::remove(AutostartEntryPath());
  Option(0)->setChecked(true);
  EXPECT_TRUE(window->SetAutoStart(true));
  EXPECT_EQ(TakeBoxes(), std::vector<Box>{Info(kRemovedFromGroup)});
  EXPECT_EQ(window->CurrentAutostartMode(), 0);
}

TEST_F(AutostartAndServiceTest, OkAppliesTheChosenStartType) {
  struct Row {
    const char* name;
    int startType;  // before
    int choose;     // list index chosen, -1 none
    int select;     // the option
    std::vector<std::string> calls;
    bool closed;
  };
  const std::vector<Row> rows = {
      {"automatic to manual", kStartAutomatic, 1, 2, {"starttype 3"}, true},
      {"manual to disabled", kStartOnDemand, 2, 2, {"starttype 4"}, true},
      {"unchanged", kStartOnDemand, -1, 2, {}, true},
      // Installed by this OK: the list (showing "Disabled") held no choice.
      {"new service", kNoSuchService, -1, 2, {"install 2"}, true},
      // Removed by this OK: nothing to apply it to.
      {"removed service", kStartAutomatic, 1, 0, {"uninstall"}, true},
      {"change fails", kStartAutomatic, 2, 2, {"starttype 4"}, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    service = FakeService();
    service.followsRequests = true;
    service.startType = row.startType;
    if (std::string(row.name) == "change fails") service.failing = {"starttype"};
    Open();
    if (row.choose >= 0) StartTypes()->setCurrentIndex(row.choose);
    Option(row.select)->setChecked(true);
    boxes.clear();
    Click("cmdOK");
    EXPECT_EQ(service.calls, row.calls);
    EXPECT_EQ(!window->isVisible(), row.closed);
    if (row.closed) {
      for (const Box& box : boxes) EXPECT_EQ(box.icon, QMessageBox::Information);
    } else {
      EXPECT_EQ(TakeBoxes(), std::vector<Box>{Error("Error while changing start type.")});
    }
  }
}

TEST_F(AutostartAndServiceTest, ControlButtonsTellTheirFailures) {
  struct Row {
    const char* button;
    int state;
    const char* call;
    QString failure;
  };
  const std::vector<Row> rows = {{"cmdStart", kServiceStopped, "start", "Error while starting service."},
                                 {"cmdStop", kServiceRunning, "stop", "Error while stopping service."},
                                 {"cmdPause", kServiceRunning, "pause", "Error while pausing service."},
                                 {"cmdContinue", kServicePaused, "continue", "Error while continue service."}};
  for (const Row& row : rows) {
    for (const bool succeeds : {false, true}) {
      SCOPED_TRACE(std::string(row.button) + (succeeds ? " succeeds" : " fails"));
      service = FakeService();
      Installed(row.state);
      service.succeeds = succeeds;
      remote = true;  // a start says nothing more
      // While the request waits: the wait cursor, every button that starts another one off,
      // and the window cannot be closed.
      std::string during;
      service.onCall = [&](const std::string&) {
        const QCursor* cursor = QApplication::overrideCursor();
        during = (cursor && cursor->shape() == Qt::WaitCursor ? "wait " : "no-wait ") + ControlButtons();
        for (const char* name : {"cmdOK", "cmdCancel", "cmdSetAutostart"})
          if (Find(name)->isEnabled()) during += std::string(" ") + name;
        static_cast<QDialog*>(window.get())->reject();
      };
      Open();
      boxCursors.clear();
      Click(row.button);
      EXPECT_EQ(service.calls, std::vector<std::string>{row.call});
      EXPECT_EQ(during, "wait 0000");
      EXPECT_TRUE(window->isVisible());
      EXPECT_EQ(QApplication::overrideCursor(), nullptr);
      if (succeeds) {
        EXPECT_TRUE(boxes.empty());
      } else {
        EXPECT_EQ(TakeBoxes(), std::vector<Box>{Error(row.failure)});
        // The box asks for a click: the normal pointer.
        EXPECT_EQ(boxCursors, std::vector<Qt::CursorShape>{Qt::ArrowCursor});
      }
    }
  }
}

TEST_F(AutostartAndServiceTest, TicksDuringARequestKeepItsButtonsOff) {
  Installed(kServiceRunning);
  std::string during;
  service.onCall = [&](const std::string&) {
    service.state = kServiceStopped;
    EXPECT_TRUE(QTest::qWaitFor([&] { return StateLabel() == "Stopped"; }, 5000));
    during = ControlButtons();
  };
  Open();
  Click("cmdStop");
  EXPECT_EQ(during, "0000");
  EXPECT_EQ(ControlButtons(), "1000");
}

TEST_F(AutostartAndServiceTest, StartFromALocalSessionHandsOverToTheService) {
  Installed();
  for (const bool inRemote : {false, true}) {
    SCOPED_TRACE(inRemote ? "remote" : "local");
    remote = inRemote;
    service.state = kServiceStopped;
    util.EndService = true;  // cleared by the opening
    bool stillOpen = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      QTest::mouseClick(dialog->findChild<QPushButton*>("cmdStart"), Qt::LeftButton);
      stillOpen = dialog->isVisible();
      if (stillOpen) QTest::mouseClick(dialog->findChild<QPushButton*>("cmdCancel"), Qt::LeftButton);
    });
    const bool keepRunning = ShowServiceSettingsDialog(util);
    EXPECT_EQ(keepRunning, inRemote);
    EXPECT_EQ(util.EndService, !inRemote);
    EXPECT_EQ(stillOpen, inRemote);
    const std::vector<Box> told = inRemote ? std::vector<Box>() : std::vector<Box>{Info(kStartedText)};
    EXPECT_EQ(TakeBoxes(), told);
  }
  EXPECT_EQ(service.calls, (std::vector<std::string>{"start", "start"}));
}

TEST_F(AutostartAndServiceTest, HelpButtonAndF1OpenTheTopic) {
  const test::ScopedEnv manual("POSTVANE_MANUAL_DIR", POSTVANE_TEST_MANUAL_DIR);
  const QUrl topic = HelpTopicUrl("spooler.htm", "ServiceSettings");
  ASSERT_FALSE(topic.isEmpty());
  SetBrowserFinderForTests([] { return QStringLiteral("test-browser.desktop"); });
  {
    const FileUrlCatcher catcher;
    Open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Click("cmdHelp");
    QTest::keyClick(StartTypes(), Qt::Key_F1);
    QTest::keyClick(window.get(), Qt::Key_F1, Qt::ShiftModifier);
    QTest::keyClick(window.get(), Qt::Key_F1, Qt::ControlModifier);
    EXPECT_EQ(catcher.urls, (std::vector<QUrl>{topic, topic}));
  }
  SetBrowserFinderForTests({});
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(AutostartAndServiceTest, EntryForAProgramWithABlankIsValid) {
  const char* validate = "/usr/bin/desktop-file-validate";
  if (!fs::exists(validate)) GTEST_SKIP() << "no desktop-file-validate (desktop-file-utils)";
  util.RUNCommandLine = "/opt/My Apps/postvane";
  Open();
  Option(1)->setChecked(true);
  Click("cmdSetAutostart");
  ASSERT_TRUE(EntryExists());
  EXPECT_NE(test::ReadFile(AutostartEntryPath()).find("Exec=\"/opt/My Apps/postvane\"\n"), std::string::npos);
  QProcess check;
  check.setProcessChannelMode(QProcess::MergedChannels);
  check.start(validate, {QString::fromStdString(AutostartEntryPath())});
  ASSERT_TRUE(check.waitForFinished(10000));
  EXPECT_EQ(check.exitCode(), 0);
  EXPECT_EQ(check.readAll().toStdString(), "");
}

TEST(HasServiceManagerTest, IsTheSystemdRuntimeDirectory) {
  const test::TempDir dir;
  EXPECT_TRUE(HasServiceManager(dir.path()));
  EXPECT_FALSE(HasServiceManager(dir.path() + "/missing"));
  test::WriteFile(dir.path() + "/file", "");
  EXPECT_FALSE(HasServiceManager(dir.path() + "/file"));
}

}  // namespace
}  // namespace pv
