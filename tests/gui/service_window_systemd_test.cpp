// The autostart and service window against the real SystemdServiceControl on systemd's mock
// (tests/service/systemd_fixture.h): what each change of mode and each button sends to systemd,
// in order, what the window tells, and what it shows for every state systemd reports. The
// suite is not named Service*: it holds D-Bus connections, which stay out of the
// ThreadSanitizer suite (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../service/systemd_fixture.h"
#include "../unit/temp_dir.h"
#include "desktop/message_box.h"
#include "desktop/service_settings_window.h"
#include "platform/autostart_entry.h"
#include "service_window_boxes.h"

namespace pv {
namespace {

using CallList = std::vector<std::string>;
using Boxes = std::vector<Box>;

const QString kNotFound = "Can not find service in the Windows SCM.";
const Box kScmAddError = Error("There was an error adding Postvane to the Windows SCM.");
const Box kStopError = Error("Error while stopping service.");
const Box kStopQuestionBox{QMessageBox::Question, kStopQuestion};

class AutostartWindowOnSystemdTest : public test::SystemdMockTest {
 protected:
  void SetUp() override {
    SystemdMockTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(channel_->Start());
    util_.ServiceName = "PostvaneSpooler";
    util_.RUNCommandLine = "/usr/bin/postvane";
    util_.service = &control();
    util_.hasServiceManager = true;
    util_.isRemoteSession = [] { return true; };  // a start keeps the window open
    SetMessageAnswererForTests([this](const MessageRequest& request) {
      boxes_.push_back({request.icon, request.text});
      if (answers_.empty()) return QMessageBox::Ok;
      const QMessageBox::StandardButton answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
  }
  void TearDown() override {
    window_.reset();
    SetMessageAnswererForTests({});
    SystemdMockTest::TearDown();
  }

  // The unit and the autostart entry as given, then the window opened on them and the mock's log
  // cleared (the opening only asks).
  void OpenOn(const char* fileState, const char* activeState, bool paused = false, bool entry = false) {
    Given(fileState, activeState);
    channel_->paused = paused;
    RemoveAutostartEntry();
    if (entry) {
      ASSERT_FALSE(CreateAutostartEntry("/usr/bin/postvane", {}));
    }
    window_ = std::make_unique<ServiceSettingsWindow>(util_);
    window_->show();
    Mock("ClearCalls");
    boxes_.clear();
  }
  template <typename Control = QWidget>
  Control* Find(const QString& name) {
    auto* control = window_->findChild<Control*>(name);
    EXPECT_NE(control, nullptr) << name.toStdString();
    return control;
  }
  void Click(const QString& name) { QTest::mouseClick(Find<QPushButton>(name), Qt::LeftButton); }
  void Select(int mode) { Find<QRadioButton>(QString("optAutostart(%1)").arg(mode))->click(); }
  QString StateLabel() { return Find<QLabel>("lblServiceState")->text(); }
  // Start, Stop, Pause, Continue as "1" on, "0" off.
  std::string Buttons() {
    std::string on;
    for (const char* name : {"cmdStart", "cmdStop", "cmdPause", "cmdContinue"})
      on += Find(name)->isEnabled() ? '1' : '0';
    return on;
  }
  Boxes TakeBoxes() { return std::exchange(boxes_, {}); }
  static bool EntryExists() { return std::filesystem::exists(AutostartEntryPath()); }

  std::string Enable() const { return "EnableUnitFiles " + unitFile_; }
  std::string Link() const { return "LinkUnitFiles " + unitFile_; }
  static std::string OnUnit(const char* method) { return std::string(method) + " " + kUnit; }

  test::TempDir home_;
  test::ScopedEnv config_{"XDG_CONFIG_HOME", (home_.path() + "/config").c_str()};
  ServiceUtility util_;
  std::deque<QMessageBox::StandardButton> answers_;
  Boxes boxes_;
  std::unique_ptr<ServiceSettingsWindow> window_;
};

TEST_F(AutostartWindowOnSystemdTest, ShowsWhatSystemdReports) {
  struct Row {
    const char* fileState;
    const char* activeState;
    bool paused;  // the spooler's STATE answer
    QString label;
    std::string buttons;
    int listIndex;
    int option;
  };
  const Row rows[] = {
      {"enabled", "inactive", false, "Stopped", "1000", 0, 2},
      {"enabled", "failed", false, "Stopped", "1000", 0, 2},
      {"enabled", "activating", false, "Start pending", "0000", 0, 2},
      {"enabled", "deactivating", false, "Stop pending", "0000", 0, 2},
      {"enabled", "active", false, "Running", "0110", 0, 2},
      {"enabled", "reloading", false, "Running", "0110", 0, 2},
      {"enabled", "active", true, "Paused", "0101", 0, 2},
      {"enabled", "inactive", true, "Stopped", "1000", 0, 2},  // a stopped spooler is not asked
      {"enabled", "maintenance", false, "Unknown", "0000", 0, 2},
      {"linked", "active", false, "Running", "0110", 1, 2},
      {"masked", "inactive", false, "Stopped", "1000", 2, 2},
      {"", "inactive", false, kNotFound, "0000", 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.fileState) + " " + row.activeState + (row.paused ? " paused" : ""));
    OpenOn(row.fileState, row.activeState, row.paused);
    EXPECT_EQ(StateLabel(), row.label);
    EXPECT_EQ(Buttons(), row.buttons);
    EXPECT_EQ(Find<QComboBox>("cboStartType")->currentIndex(), row.listIndex);
    EXPECT_EQ(window_->CurrentAutostartMode(), row.option);
  }
}

TEST_F(AutostartWindowOnSystemdTest, EveryChangeOfModeSendsItsRequests) {
  struct Row {
    const char* name;
    const char* fileState;
    const char* activeState;
    bool entry;  // the autostart entry exists before
    QMessageBox::StandardButton stopAnswer;  // NoButton: this process is not the service
    const char* refused;  // a method polkit refuses, "" none
    int select;
    CallList requests;
    Boxes boxes;
    bool entryAfter;
    int modeAfter;
    QString labelAfter;
  };
  const auto none = QMessageBox::NoButton;
  const std::string stop = OnUnit("StopUnit"), disable = OnUnit("DisableUnitFiles");
  const Row rows[] = {
      {"none to login", "", "inactive", false, none, "", 1, {}, {Info(kAddedToGroup)}, true, 1, kNotFound},
      {"none to service", "", "inactive", false, none, "", 2, {Enable(), "Reload"}, {Info(kAddedToScm)},
       false, 2, "Stopped"},
      {"login to none", "", "inactive", true, none, "", 0, {}, {Info(kRemovedFromGroup)}, false, 0, kNotFound},
      {"login to service", "", "inactive", true, none, "", 2, {Enable(), "Reload"}, {Info(kAddedToScm)},
       false, 2, "Stopped"},
      {"stopped service to none", "enabled", "inactive", false, none, "", 0, {disable, "Reload"},
       {Info(kNotBooted)}, false, 0, kNotFound},
      {"failed manual service to none", "linked", "failed", false, none, "", 0, {disable, "Reload"},
       {Info(kNotBooted)}, false, 0, kNotFound},
      {"running service to none", "enabled", "active", false, none, "", 0, {stop, disable, "Reload"},
       {Info(kNotBooted)}, false, 0, kNotFound},
      {"stopping service to none", "enabled", "deactivating", false, none, "", 0,
       {stop, disable, "Reload"}, {Info(kNotBooted)}, false, 0, kNotFound},
      {"running service to login", "enabled", "active", false, none, "", 1, {stop, disable, "Reload"},
       {Info(kAddedToGroup)}, true, 1, kNotFound},
      {"disabled service to login", "masked", "inactive", false, none, "", 1,
       {OnUnit("UnmaskUnitFiles"), "Reload"}, {Info(kAddedToGroup)}, true, 1, kNotFound},
      {"this process's service, Yes", "enabled", "active", false, QMessageBox::Yes, "", 0,
       {stop, disable, "Reload"}, {kStopQuestionBox, Info(kNotBooted)}, false, 0, kNotFound},
      {"this process's service, No", "enabled", "active", false, QMessageBox::No, "", 0, {},
       {kStopQuestionBox}, false, 2, "Running"},
      {"nothing to do", "enabled", "active", false, none, "", 2, {}, {Info(kNothingToDo)}, false, 2,
       "Running"},
      // The entry wins the option at the opening; the service there already still starts the
      // spooler: its install is refused, which is told, and the mode is the service.
      {"existing service", "enabled", "inactive", true, none, "", 2, {}, {kScmAddError}, false, 2,
       "Stopped"},
      {"install refused", "", "inactive", false, none, "EnableUnitFiles", 2, {Enable()}, {kScmAddError},
       false, 0, kNotFound},
      {"install refused after the entry went", "", "inactive", true, none, "EnableUnitFiles", 2,
       {Enable()}, {kScmAddError}, false, 0, kNotFound},
      {"stop refused", "enabled", "active", false, none, "StopUnit", 0, {stop}, {kStopError}, false, 2,
       "Running"},
      {"removal refused", "enabled", "active", false, none, "DisableUnitFiles", 0, {stop, disable},
       {Error("There was an error uninstalling Postvane as a Windows Service.")}, false, 2, "Stopped"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    util_.StartedAsService = row.stopAnswer != none;
    if (util_.StartedAsService) answers_ = {row.stopAnswer};
    OpenOn(row.fileState, row.activeState, false, row.entry);
    Mock("RefuseMethods", {QStringList{QString::fromLatin1(row.refused)}});
    Select(row.select);
    Click("cmdSetAutostart");
    EXPECT_EQ(Requests(), row.requests);
    EXPECT_EQ(TakeBoxes(), row.boxes);
    EXPECT_EQ(EntryExists(), row.entryAfter);
    EXPECT_EQ(window_->CurrentAutostartMode(), row.modeAfter);
    EXPECT_EQ(StateLabel(), row.labelAfter);
    EXPECT_EQ(waits_, 0);  // the mock stops at once
    // The mode in force is what systemd and the entry now hold.
    EXPECT_EQ(control().QueryServiceStartType() >= 0, row.modeAfter == 2);
    Mock("RefuseMethods", {QStringList{}});
    if (row.modeAfter != row.select) continue;
    Click("cmdSetAutostart");
    EXPECT_EQ(TakeBoxes(), Boxes{Info(kNothingToDo)});
  }
}

TEST_F(AutostartWindowOnSystemdTest, ButtonsSendTheirRequestsAndWaitByCountedPolls) {
  struct Row {
    const char* name;
    const char* activeState;
    bool paused;
    const char* button;
    const char* refused;       // "" none
    const char* startOutcome;  // the ActiveState a StartUnit leaves
    int upAfterWaits;          // then the unit becomes active; -1 never
    CallList requests;
    Boxes boxes;
    int waits;
    QString labelAfter;
    std::string buttonsAfter;
  };
  const std::string start = OnUnit("StartUnit"), stop = OnUnit("StopUnit");
  const Box startError = Error("Error while starting service.");
  const Row rows[] = {
      {"start", "inactive", false, "cmdStart", "", "active", -1, {start}, {}, 0, "Running", "0110"},
      {"slow start", "inactive", false, "cmdStart", "", "activating", 2, {start}, {}, 2, "Running", "0110"},
      // Timeout 0: sixty polls, a second between two of them.
      {"start that never comes up", "failed", false, "cmdStart", "", "activating", -1, {start},
       {startError}, 59, "Start pending", "0000"},
      {"start refused", "inactive", false, "cmdStart", "StartUnit", "active", -1, {start}, {startError},
       0, "Stopped", "1000"},
      {"stop", "active", false, "cmdStop", "", "active", -1, {stop}, {}, 0, "Stopped", "1000"},
      {"stop of a paused service", "active", true, "cmdStop", "", "active", -1, {stop}, {}, 0, "Stopped",
       "1000"},
      {"stop refused", "active", false, "cmdStop", "StopUnit", "active", -1, {stop}, {kStopError}, 0,
       "Running", "0110"},
      // Pause and continue go to the spooler, not to systemd.
      {"pause", "active", false, "cmdPause", "", "active", -1, {}, {}, 0, "Paused", "0101"},
      {"continue", "active", true, "cmdContinue", "", "active", -1, {}, {}, 0, "Running", "0110"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Mock("SetStartOutcome", {kUnit, row.startOutcome});
    OpenOn("enabled", row.activeState, row.paused);
    Mock("RefuseMethods", {QStringList{QString::fromLatin1(row.refused)}});
    onWait_ = [&] {
      QCoreApplication::processEvents();
      if (waits_ == row.upAfterWaits) Mock("SetActiveState", {kUnit, "active"});
    };
    Click(row.button);
    EXPECT_EQ(Requests(), row.requests);
    EXPECT_EQ(TakeBoxes(), row.boxes);
    EXPECT_EQ(waits_, row.waits);
    EXPECT_EQ(StateLabel(), row.labelAfter);
    EXPECT_EQ(Buttons(), row.buttonsAfter);
    EXPECT_TRUE(window_->isVisible());
  }
  onWait_ = nullptr;
  // A refused pause is told, and the spooler runs on.
  OpenOn("enabled", "active");
  channel_->deny = true;
  Click("cmdPause");
  EXPECT_EQ(TakeBoxes(), Boxes{Error("Error while pausing service.")});
  EXPECT_EQ(StateLabel(), "Running");
}

TEST_F(AutostartWindowOnSystemdTest, OkAppliesTheChosenStartType) {
  struct Row {
    const char* name;
    const char* fileState;
    int select;  // the option
    int choose;  // the list index chosen, -1 none
    const char* refused;
    CallList requests;
    int startTypeAfter;
    bool closed;
  };
  const std::string disable = OnUnit("DisableUnitFiles"), unmask = OnUnit("UnmaskUnitFiles");
  const Row rows[] = {
      {"automatic to manual", "enabled", 2, 1, "", {disable, Link(), "Reload"}, kStartOnDemand, true},
      {"automatic to disabled", "enabled", 2, 2, "", {disable, OnUnit("MaskUnitFiles"), "Reload"},
       kStartDisabled, true},
      {"manual to automatic", "linked", 2, 0, "", {Enable(), "Reload"}, kStartAutomatic, true},
      {"disabled to automatic", "masked", 2, 0, "", {unmask, Enable(), "Reload"}, kStartAutomatic, true},
      {"disabled to manual", "masked", 2, 1, "", {unmask, Link(), "Reload"}, kStartOnDemand, true},
      {"unchanged", "linked", 2, 1, "", {}, kStartOnDemand, true},
      // Installed by this OK: the list (showing "Disabled") held no choice.
      {"new service", "", 2, -1, "", {Enable(), "Reload"}, kStartAutomatic, true},
      // Refused half way: the service is enabled again, not left uninstalled.
      {"mask refused", "enabled", 2, 2, "MaskUnitFiles", {disable, OnUnit("MaskUnitFiles"), Enable(), "Reload"},
       kStartAutomatic, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    OpenOn(row.fileState, "inactive");
    Mock("RefuseMethods", {QStringList{QString::fromLatin1(row.refused)}});
    if (row.choose >= 0) Find<QComboBox>("cboStartType")->setCurrentIndex(row.choose);
    Select(row.select);
    Click("cmdOK");
    EXPECT_EQ(Requests(), row.requests);
    EXPECT_EQ(control().QueryServiceStartType(), row.startTypeAfter);
    EXPECT_EQ(!window_->isVisible(), row.closed);
    const Boxes told = TakeBoxes();
    if (row.closed) {
      for (const Box& box : told) EXPECT_EQ(box.icon, QMessageBox::Information);
    } else {
      EXPECT_EQ(told, Boxes{Error("Error while changing start type.")});
    }
  }
}

}  // namespace
}  // namespace pv
