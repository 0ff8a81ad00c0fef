#include <gtest/gtest.h>

#include <filesystem>

#include "reporting/csv_log.h"
#include "support/durable_write.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

TEST(LogFileName, DateVariables) {
  const std::vector<std::tuple<std::string, LocalDateTime, std::string>> cases = {
      {"PVX-Year$-Month$-Day$.csv", LocalDateTime::FromCivil(2024, 3, 5), "/d/PVX-2024-03-05.csv"},
      {"HOUR$-hour$", LocalDateTime::FromCivil(2024, 3, 5, 7), "/d/07-07"},
      // 2022 begins on a Saturday: week 1 is that one day, Sunday 2 January starts week 2.
      {"week$", LocalDateTime::FromCivil(2022, 1, 1, 23), "/d/1"},
      {"week$", LocalDateTime::FromCivil(2000, 12, 31), "/d/54"},  // leap year, Saturday start
  };
  for (const auto& [name, now, expected] : cases)
    EXPECT_EQ(BuildLogFileName(name, "/d", now), expected) << name;
  EXPECT_EQ(BuildLogFileName("x.csv", "/d/", {}), "/d/x.csv");
}

TEST(CsvFields, QuotingEscapingAndLines) {
  const std::vector<std::pair<std::string, std::string>> quoted = {
      {"", "\"\""},
      {"a\"b", "\"a\"\"b\""},
      {"a\"\"b", "\"a\"\"b\""},  // an already doubled quote is not doubled again
      {"a,b\r\nc", "\"a,b\r\nc\""},  // a line break inside quotes is valid CSV
  };
  for (const auto& [value, expected] : quoted) EXPECT_EQ(QuoteCsvText(value, "\""), expected);
  EXPECT_EQ(EscapeCsvMessage("one\r\ntwo\tthree\n"), "one\\r\\ntwo\\tthree\\n");

  const CsvFormat format{"\"", ";"};
  EXPECT_EQ(CsvHeaderLine(format),
            "date;senderhostname;relayhostname;source;type;sender;recipients;subject;exitcode;"
            "msg\r\n");
  EXPECT_EQ(CsvDataLine({"05/03/24 10:00:00", "host", "relay", 1, "a@x", "b@y,c@z", "Say \"hi\"",
                         12, "line 1\r\nline 2"},
                        format),
            "05/03/24 10:00:00;\"host\";\"relay\";PVX;1;\"a@x\";\"b@y,c@z\";\"Say \"\"hi\"\"\";12;"
            "\"line 1\\r\\nline 2\"\r\n");
}

struct NullEventLog : EventLog {
  std::string WriteEventLogEntry(const std::string&, std::uint16_t, std::string&) override {
    return "";
  }
};

struct CsvLogFixture {
  explicit CsvLogFixture(CsvLogTiming timing)
      : log({{}, false, dir.path(), "Postvane", std::move(timing)}, notifier, events) {
    settings.LogFileDir = dir.path();
    settings.LogFileName = "PVX-year$-month$-day$.csv";
  }
  bool Write(const std::string& text) {
    return log.WriteCsvLogLine(settings, 4, "s", "r", "subj", 0, text);
  }
  test::TempDir dir;
  SilentNotifier notifier;
  NullEventLog events;
  CsvLog log;
  SpoolerSettings settings;
};

const LocalDateTime kNow = LocalDateTime::FromCivil(2024, 3, 5, 10);

TEST(CsvLog, OtherFailuresAreRetriedThenTheLineIsDropped) {
  int pauses = 0;
  CsvLogFixture f({[] { return kNow; }, 3, [&] { ++pauses; }});
  std::filesystem::create_directory(f.log.LogFilePath(f.settings));  // cannot be appended to
  EXPECT_FALSE(f.Write("ok"));
  EXPECT_EQ(pauses, 2);
}

}  // namespace
}  // namespace pv
