#include <gtest/gtest.h>

#include "platform/watch_event.h"

namespace pv {
namespace {

TEST(WatchEvent, FieldsSurviveTabsLineEndsAndBackslashes) {
  const std::string text = "Line one\r\nLine\ttwo \\n not an escape\\";
  const std::string line = FormatBalloonEvent(3, "Postvane Error", text);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line, "BALLOON\t3\tPostvane Error\tLine one\\r\\nLine\\ttwo \\\\n not an escape\\\\");
  const auto balloon = ParseBalloonEvent(line);
  ASSERT_TRUE(balloon);
  EXPECT_EQ(balloon->icon, 3);
  EXPECT_EQ(balloon->title, "Postvane Error");
  EXPECT_EQ(balloon->text, text);
  EXPECT_EQ(ParseCriticalEvent(FormatCriticalEvent("disk\tfull")), std::optional<std::string>("disk\tfull"));
}

TEST(WatchEvent, LinesOfOtherShapesAreNoEvents) {
  for (const char* line : {"", "OK", "BALLOON\t4\tt\tx", "BALLOON\t1\tt", "BALLOON\t1\tt\tx\ty",
                           "CRITICAL", "balloon\t1\tt\tx"})
    EXPECT_FALSE(ParseBalloonEvent(line)) << line;
  EXPECT_FALSE(ParseCriticalEvent("CRITICAL\ta\tb"));
  EXPECT_EQ(ParseWatchEvent("a\t\tb"), (std::vector<std::string>{"a", "", "b"}));
}

}  // namespace
}  // namespace pv
