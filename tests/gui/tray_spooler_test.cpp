// The tray's life cycle with a real controller, icon and menu on the offscreen platform; no run
// starts (the clock never reaches the next run). The spooler's own rules: spooler_controller_test.
#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "desktop/tray_icon.h"
#include "desktop/tray_menu.h"
#include "desktop/tray_spooler.h"
#include "engine/spool_engine.h"
#include "reporting_api/notifier.h"
#include "shell/spooler_controller.h"

namespace pv {
namespace {

const LocalDateTime kStart = LocalDateTime::FromCivil(2026, 12, 7, 9, 0, 0);

class NoReports : public ResultReporter {
 public:
  void ReportResult(ResultKind, const std::string&, const std::string&, const std::string&,
                    std::int32_t, const std::string& message, const std::string&) override {
    reports.push_back(message);
  }
  std::vector<std::string> reports;
};

class TraySpoolerTest : public ::testing::Test {
 protected:
  TraySpoolerTest() {
    settings.SpoolFilePattern = dir.filePath("*.eml").toStdString();
    settings.UpDelay = 60;
  }

  // "ppcs": which of Pause, Continue, Settings and Spool now are on, '+' or '-'.
  std::string Entries() const {
    std::string entries;
    for (const QAction* entry : {menu.pause, menu.cont, menu.settings, menu.spoolNow})
      entries += entry->isEnabled() ? '+' : '-';
    return entries;
  }

  QTemporaryDir dir;
  SpoolerSettings settings;
  bool settingsLoad = true;
  bool ended = false;
  int settingsShown = 0;
  int savesOffered = 0;
  SpoolRunState state;
  MailTransport transport;
  NoReports reporter;
  SilentNotifier notifier;
  SpoolEngine engine{{state, transport, reporter, notifier, [this] { return settings; }, nullptr,
                      "test"}};
  TraySpooler* spooler = nullptr;
  SpoolerController controller{
      {engine, state, transport, reporter,
       [this](SpoolerState shown, const std::string&) { spooler->ShowState(shown); },
       [this] { return settingsLoad; }, [this] { return settings; }, [] { return true; },
       nullptr, [] { return kStart; }, [] { return 3600L; }}};
  TrayIcon tray;
  TrayMenu menu;
  int serviceWindows = 0, testWindows = 0;
  bool serviceWindowAnswer = true;
  TraySpooler traySpooler{controller, tray, menu,
                          {nullptr, [this] { ++settingsShown; }, [this] { ++savesOffered; },
                           [this] { return ++serviceWindows, serviceWindowAnswer; },
                           [this] { ++testWindows; }}};
  void SetUp() override {
    spooler = &traySpooler;
    controller.SetOnEnded([this] { ended = true; });
  }
};

TEST(TrayMenuTest, EntriesInOrderWithSettingsAsDefault) {
  TrayMenu menu;
  QStringList names, captions;
  for (const QAction* action : menu.actions()) {
    names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
    if (!action->isSeparator()) captions << action->text();
  }
  EXPECT_EQ(names.join(' ').toStdString(),
            "mAbout - mSettings mnuServiceSettings - mnuTestObject - mPause mContinue - mDoItNow "
            "- mExit");
  EXPECT_EQ(captions.join('|').toStdString(),
            "About Postvane...|Settings...|Autostart and Service Settings...|Test Postvane COM "
            "Object...|Pause|Continue|Spool now!|Stop");
  EXPECT_EQ(menu.defaultAction(), menu.settings);
  EXPECT_EQ(menu.objectName(), "mnuFile");
  EXPECT_FALSE(menu.serviceSettings->isEnabled());
  EXPECT_FALSE(menu.testObject->isEnabled());
}

// The service window's false: the system service was started from it and takes over, so this
// spooler ends (after the settings window's offer to save).
TEST_F(TraySpoolerTest, TheServiceWindowEndsTheSpoolerWhenTheServiceTookOver) {
  traySpooler.StartService();
  ASSERT_TRUE(menu.serviceSettings->isEnabled());
  ASSERT_TRUE(menu.testObject->isEnabled());
  menu.testObject->trigger();
  EXPECT_EQ(testWindows, 1);
  menu.serviceSettings->trigger();
  EXPECT_EQ(serviceWindows, 1);
  EXPECT_FALSE(ended);
  serviceWindowAnswer = false;
  menu.serviceSettings->trigger();
  EXPECT_EQ(savesOffered, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ended; }, 5000));
}

TEST_F(TraySpoolerTest, MenuIconAndPauseFlagFollowTheLifeCycle) {
  struct Step {
    const char* operation;
    bool answer;
    std::string entries;  // Pause, Continue, Settings, Spool now
    bool paused;
    const char* tooltipEnd;
  };
  const std::vector<Step> steps = {
      {"start", true, "+-++", false, "Next Run at "},
      {"pause", true, "-++-", true, "Paused"},
      {"continue, settings fail", false, "-++-", true, "Paused"},
      {"continue", true, "+-++", false, "Next Run at "},
      {"end", false, "----", true, "Paused"},
      {"continue", false, "----", true, "Paused"},  // nothing starts after the end
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.operation);
    const std::string operation = step.operation;
    settingsLoad = operation != "continue, settings fail";
    bool answer = false;
    if (operation == "start") answer = traySpooler.StartService();
    if (operation == "pause") answer = traySpooler.PauseService();
    if (operation.rfind("continue", 0) == 0) answer = traySpooler.ContService();
    if (operation == "end") answer = traySpooler.EndService();
    EXPECT_EQ(answer, step.answer);
    EXPECT_EQ(Entries(), step.entries);
    EXPECT_EQ(tray.Paused, step.paused);
    EXPECT_EQ(state.Paused.load(), step.paused);
    const QString tooltip = tray.ToolTip();
    EXPECT_TRUE(tooltip.startsWith("Postvane")) << tooltip.toStdString();
    EXPECT_NE(tooltip.indexOf(QLatin1String(step.tooltipEnd)), -1) << tooltip.toStdString();
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(reporter.reports, std::vector<std::string>{"Error while loading settings"});
}

TEST_F(TraySpoolerTest, StopQuestionHoldsSpoolingAndNoKeepsTheFormerState) {
  struct Case {
    bool pausedBefore;
    bool answerYes;
    std::string entriesAfter;
    bool endedAfter;
  };
  const std::vector<Case> cases = {
      {false, false, "+-++", false},  // running: paused for the question, then continued
      {true, false, "-++-", false},   // paused stays paused
      {false, true, "----", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pausedBefore ? "paused" : "running") + (c.answerYes ? " yes" : " no"));
    ended = false;
    ASSERT_TRUE(traySpooler.StartService());
    if (c.pausedBefore) traySpooler.PauseService();
    bool pausedDuringQuestion = false;
    traySpooler.askStop = [&] {
      pausedDuringQuestion = state.Paused.load() && !menu.pause->isEnabled();
      return c.answerYes;
    };
    savesOffered = 0;
    traySpooler.StopCommand();
    EXPECT_TRUE(pausedDuringQuestion);
    EXPECT_EQ(Entries(), c.entriesAfter);
    EXPECT_EQ(ended, c.endedAfter);
    // Only a Yes ends the spooler, and the settings window may save first.
    EXPECT_EQ(savesOffered, c.answerYes ? 1 : 0);
  }
}

TEST_F(TraySpoolerTest, DoubleClickAndSettingsEntryOpenTheSettings) {
  traySpooler.StartService();
  emit tray.LeftMouseDblClick();
  menu.settings->trigger();
  EXPECT_EQ(settingsShown, 2);
  // A single click is no activation on a panel that knows double clicks.
  emit tray.LeftMouseButton();
  EXPECT_EQ(settingsShown, 2);
}

TEST_F(TraySpoolerTest, SpoolNowIsThreeSecondsAway) {
  traySpooler.StartService();
  state.SetNextRun(kStart.AddSeconds(50));
  menu.spoolNow->trigger();
  EXPECT_EQ(state.NextRun().Milliseconds() - kStart.Milliseconds(), 3000);
}

}  // namespace
}  // namespace pv
