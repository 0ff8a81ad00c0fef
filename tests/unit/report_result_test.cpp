#include <gtest/gtest.h>

#include <vector>

#include "reporting/result_log.h"
#include "support/paths.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

using Row = std::vector<std::string>;

struct RecordingNotifier : Notifier {
  void ShowBalloon(BalloonIcon icon, const std::string& title, const std::string& text) override {
    balloons.push_back({std::to_string(static_cast<int>(icon)), title, text});
  }
  void ShowCriticalMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<Row> balloons;
  std::vector<std::string> messages;
};

struct RecordingEventLog : EventLog {
  std::string WriteEventLogEntry(const std::string& text, std::uint16_t type,
                                 std::string& source) override {
    entries.push_back({text, std::to_string(type), source});
    return "";
  }
  std::vector<Row> entries;
};

struct Reporter {
  explicit Reporter(bool isService = false)
      : log({"\"", ",", isService, dir / "program", "Postvane"}, [this] { return settings; },
            notifier, events, {[] { return LocalDateTime::FromCivil(2024, 3, 5); }, 2, [] {}}) {
    MakeDirectories(dir / "program");
    settings.LogFileDir = dir.path();
    settings.LogFileName = "log.csv";
  }
  test::TempDir dir;
  SpoolerSettings settings;
  RecordingNotifier notifier;
  RecordingEventLog events;
  ResultLog log;
};

TEST(ReportResult, SwitchesDecideTheOutputs) {
  struct Case {
    ResultKind kind;
    bool errBalloon, errEvent, errCsv, okBalloon, okEvent, okCsv;
    std::size_t balloons, events;
    bool csv;
  };
  const std::vector<Case> cases = {
      {kResultError, 1, 1, 1, 0, 0, 0, 1, 1, true},
      {kResultError, 0, 1, 0, 1, 1, 1, 0, 1, false},
      {kResultSuccess, 0, 0, 0, 1, 1, 1, 1, 1, true},
      {kResultSuccess, 1, 1, 1, 0, 0, 1, 0, 0, true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    Reporter r;
    r.settings.ShowErrorBallons = c.errBalloon;
    r.settings.WriteErrorNTEventLog = c.errEvent;
    r.settings.WriteErrorCSVLog = c.errCsv;
    r.settings.ShowSuccessBallons = c.okBalloon;
    r.settings.WriteSuccessNTEventLog = c.okEvent;
    r.settings.WriteSuccessCSVLog = c.okCsv;
    r.log.ReportResult(c.kind, "a@x", "b@y", "subj", 12, "short", "long");
    EXPECT_EQ(r.notifier.balloons.size(), c.balloons) << "row " << i;
    EXPECT_EQ(r.events.entries.size(), c.events) << "row " << i;
    EXPECT_EQ(FileExists(r.dir / "log.csv"), c.csv) << "row " << i;
  }
}

TEST(ReportResult, MissingLogDirectoryMovesTheLogToTheProgramDirectory) {
  for (const bool isService : {false, true}) {
    Reporter r(isService);
    r.settings.LogFileDir = r.dir / "missing";
    r.settings.WriteErrorNTEventLog = false;
    r.log.ReportResult(kResultError, "a@x", "b@y", "subj", 13, "first", "");
    const Row told = !isService ? r.notifier.messages
                     : r.events.entries.empty() ? Row{} : r.events.entries[0];
    ASSERT_FALSE(told.empty());
    EXPECT_TRUE(told[0].starts_with("Can not write into logfile '" + r.dir / "missing/log.csv" +
                                    "' Error: ")) << told[0];
    EXPECT_EQ(r.events.entries.size() + r.notifier.messages.size(), 1u);
    if (isService) {
      EXPECT_EQ(r.events.entries[0], (Row{told[0], "1", "Postvane"}));
    }

    r.log.ReportResult(kResultError, "a@x", "b@y", "subj", 13, "second", "");
    EXPECT_TRUE(FileExists(r.dir / "program/log.csv"));
    r.log.OnSettingsLoaded();
    EXPECT_EQ(r.log.BuildLogFileName(), r.dir / "missing/log.csv");
  }
}

}  // namespace
}  // namespace pv
