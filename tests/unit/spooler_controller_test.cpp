#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/spool_engine.h"
#include "reporting_api/notifier.h"
#include "shell/spooler_controller.h"
#include "temp_dir.h"

namespace pv {
namespace {

const LocalDateTime kStart = LocalDateTime::FromCivil(2026, 12, 7, 9, 0, 0);
constexpr int kUpDelay = 60;

class RecordingReporter : public ResultReporter {
 public:
  void ReportResult(ResultKind kind, const std::string&, const std::string&, const std::string&,
                    std::int32_t, const std::string& message, const std::string&) override {
    reports.push_back((kind == kResultError ? "error: " : "ok: ") + message);
  }
  std::vector<std::string> reports;
};

// No test here lets a run start: the controller alone reads the clock, the network and the
// settings the test decides.
class SpoolerControllerTest : public ::testing::Test {
 protected:
  SpoolerControllerTest() {
    settings.DefaultExtension = "eml";
    settings.SpoolFilePattern = dir / "*.eml";
    settings.RetryInterval = std::string(kDefaultRetryInterval);
    settings.UpDelay = kUpDelay;
  }

  // Seconds from kStart to the next run.
  std::int64_t NextRun() const {
    return (state.NextRun().Milliseconds() - kStart.Milliseconds()) /
           LocalDateTime::kMillisecondsPerSecond;
  }

  int argc = 1;
  char name[11] = "unit_tests";
  char* argv[2] = {name, nullptr};
  QCoreApplication app{argc, argv};
  test::TempDir dir;
  SpoolerSettings settings;
  LocalDateTime now = kStart;
  long utcOffset = 3600;
  bool network = true;
  bool settingsLoad = true;
  std::vector<std::pair<SpoolerState, std::string>> shown;
  std::vector<std::string> runEvents;

  SpoolRunState state;
  MailTransport transport;
  RecordingReporter reporter;
  SilentNotifier notifier;
  SpoolEngine engine{[this] {
    SpoolEnvironment env{state, transport, reporter, notifier, [this] { return settings; },
                         nullptr, "test"};
    env.now = [this] { return now; };
    env.deliver = [](const std::string&, const std::string&, std::string&, std::string&,
                     std::string&, const DeliveryContext&) { return true; };
    return env;
  }()};
  SpoolerController controller{
      {engine, state, transport, reporter,
       [this](SpoolerState shownState, const std::string& text) {
         shown.emplace_back(shownState, text);
       },
       [this] { return settingsLoad; }, [this] { return settings; }, [this] { return network; },
       [this](const std::string& event) { runEvents.push_back(event); }, [this] { return now; },
       [this] { return utcOffset; }}};
};

// "Spooling eMail" while a run is busy: service_test.cpp.
// One operation at a time (seconds after kStart), what it answers, where it leaves the next
// run and which state it shows.
struct LifeStep {
  std::string operation;
  int at;
  bool answer;
  std::int64_t nextRun;
  SpoolerState state;
};

TEST_F(SpoolerControllerTest, StartPauseContinueAndSpoolNowMoveTheNextRun) {
  const std::map<std::string, std::function<bool()>> operations = {
      {"start", [this] { return controller.StartService(); }},
      {"pause", [this] { return controller.PauseService(); }},
      {"continue", [this] { return controller.ContService(); }},
      {"continue, settings fail",
       [this] {
         settingsLoad = false;
         const bool answer = controller.ContService();
         settingsLoad = true;
         return answer;
       }},
      {"reload", [this] { return controller.Reload(); }},
      {"spool now", [this] { return controller.SpoolNow(); }},
      {"tick", [this] { return controller.Tick(), true; }},
  };
  const std::vector<LifeStep> steps = {
      {"start", 0, true, 3, SpoolerState::Waiting},     // 3 seconds from now
      {"tick", 2, true, 3, SpoolerState::Waiting},      // not due yet
      {"pause", 2, true, 3, SpoolerState::Paused},
      {"spool now", 2, false, 3, SpoolerState::Paused},  // ignored while paused
      {"reload", 10, true, 3, SpoolerState::Paused},     // a reload keeps the pause
      {"continue, settings fail", 40, false, 3, SpoolerState::Paused},
      {"continue", 50, true, 53, SpoolerState::Waiting},
      {"reload", 51, true, 54, SpoolerState::Waiting},  // running: soon, as a continue
      {"pause", 51, true, 54, SpoolerState::Paused},
      {"start", 70, true, 73, SpoolerState::Waiting},
  };
  for (const LifeStep& step : steps) {
    now = kStart.AddSeconds(step.at);
    shown.clear();
    const std::string shownStep = step.operation + " at " + std::to_string(step.at);
    EXPECT_EQ(operations.at(step.operation)(), step.answer) << shownStep;
    EXPECT_EQ(NextRun(), step.nextRun) << shownStep;
    EXPECT_EQ(controller.CurrentState(), step.state) << shownStep;
    EXPECT_EQ(state.Paused.load(), step.state == SpoolerState::Paused) << shownStep;
    bool error = false;
    EXPECT_EQ(controller.StateLine(),
              std::string(step.state == SpoolerState::Paused ? "state=paused" : "state=waiting") +
                  "\tnext=" + FormatIsoDateTime(kStart.AddSeconds(step.nextRun), error))
        << shownStep;
    if (step.operation != "tick" && step.answer) {
      ASSERT_EQ(shown.size(), 1u) << shownStep;
      EXPECT_EQ(shown[0].first, step.state) << shownStep;
      EXPECT_EQ(shown[0].second, controller.StatusText()) << shownStep;
    } else {
      EXPECT_TRUE(shown.empty()) << shownStep;
    }
  }
  EXPECT_EQ(reporter.reports, std::vector<std::string>{"error: Error while loading settings"});
  EXPECT_TRUE(runEvents.empty());
}

// While offline every due tick moves the next run on by 3 seconds, from where it was.
struct OfflineTick {
  int at;
  std::int64_t nextRun;
  bool shows;
};

TEST_F(SpoolerControllerTest, OfflineTicksRetryEveryThreeSeconds) {
  settings.OnlyIfOnline = true;
  network = false;
  controller.StartService();
  const std::vector<OfflineTick> ticks = {
      {1, 3, false}, {3, 6, true}, {5, 6, false}, {20, 9, true}, {20, 12, true}, {21, 15, true},
  };
  for (const OfflineTick& tick : ticks) {
    now = kStart.AddSeconds(tick.at);
    shown.clear();
    controller.Tick();
    const std::string shownTick = "tick at " + std::to_string(tick.at);
    EXPECT_EQ(NextRun(), tick.nextRun) << shownTick;
    EXPECT_EQ(shown.size(), tick.shows ? 1u : 0u) << shownTick;
    if (!shown.empty()) {
      EXPECT_EQ(shown[0].first, SpoolerState::Offline) << shownTick;
    }
  }
  // A spool-now request while offline tests the network at once, then 3 seconds later.
  now = kStart.AddSeconds(50);
  EXPECT_TRUE(controller.SpoolNow());
  EXPECT_EQ(NextRun(), 53);
  EXPECT_TRUE(runEvents.empty());
}

// Ticks in order (seconds after kStart), each before the next run so that none starts.
struct ClockTick {
  int at;
  long offset;
  int nextRunBefore;
  std::int64_t nextRunAfter;
};

TEST_F(SpoolerControllerTest, OffsetChangesAndClocksSetBackMoveTheNextRun) {
  controller.StartService();
  const std::vector<ClockTick> ticks = {
      {10, 3600, 30, 30},                         // a plain tick
      {10, 7200, 50, 13},                         // summer time begins: a time change
      {0, 7200, 63, 63},                          // at now + UpDelay + 3 s
      {-3590, 7200, 30, -3590 + kUpDelay + 3},    // the clock set back an hour
  };
  for (const ClockTick& tick : ticks) {
    now = kStart.AddSeconds(tick.at);
    utcOffset = tick.offset;
    state.SetNextRun(kStart.AddSeconds(tick.nextRunBefore));
    controller.Tick();
    EXPECT_EQ(NextRun(), tick.nextRunAfter) << "tick at " << tick.at;
  }
  EXPECT_TRUE(runEvents.empty());
}

}  // namespace
}  // namespace pv
