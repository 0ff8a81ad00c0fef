#include "support/date_time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <limits>
#include <vector>

namespace pv {
namespace {

using DT = LocalDateTime;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(DateTimeValue, CountsFromZeroDateAndCarriesFields) {
  EXPECT_EQ(DT::FromCivil(1899, 12, 30), DT{});
  EXPECT_EQ(DT::FromCivil(1970, 1, 1).Milliseconds(), 25569 * DT::kMillisecondsPerDay);
  EXPECT_EQ(DT::FromCivil(1899, 12, 29, 18).Milliseconds(), -6 * DT::kMillisecondsPerHour);
  EXPECT_EQ(DT::FromCivil(2024, 13, 1), DT::FromCivil(2025, 1, 1));
  EXPECT_EQ(DT::FromCivil(2024, 5, 17, 24), DT::FromCivil(2024, 5, 18));
}

TEST(DateTimeValue, FieldsAndSplitBeforeAndAfterZeroDate) {
  struct Case { DT value; int y, mo, d, h, mi, s, ms; std::int64_t date, timeOfDay; };
  const Case cases[] = {
      {DT(-1), 1899, 12, 29, 23, 59, 59, 999, -DT::kMillisecondsPerDay, DT::kMillisecondsPerDay - 1},
      {DT(0), 1899, 12, 30, 0, 0, 0, 0, 0, 0},
      {DT::FromCivil(2024, 2, 29, 13, 4, 5, 6), 2024, 2, 29, 13, 4, 5, 6,
       DT::FromCivil(2024, 2, 29).Milliseconds(), 47045006},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.Milliseconds());
    const DT& v = c.value;
    EXPECT_EQ((std::vector{v.Year(), v.Month(), v.Day(), v.Hour(), v.Minute(), v.Second(),
                           v.Millisecond()}),
              (std::vector{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}));
    EXPECT_EQ(c.value.DatePart().Milliseconds(), c.date);
    EXPECT_EQ(c.value.TimeOfDayMilliseconds(), c.timeOfDay);
  }
}

TEST(DateTimeValue, CalendarAdditionsAndSaturation) {
  EXPECT_EQ(DT::FromCivil(2024, 2, 28, 23, 50).AddMinutes(20), DT::FromCivil(2024, 2, 29, 0, 10));
  EXPECT_EQ(DT::FromCivil(2024, 1, 1).AddSeconds(-1), DT::FromCivil(2023, 12, 31, 23, 59, 59));
  EXPECT_LT(DT::FromCivil(2024, 1, 1), DT::FromCivil(2024, 1, 1, 0, 0, 0, 1));
  EXPECT_EQ(DT(kMax - 5).AddSeconds(1), DT(kMax));
  EXPECT_EQ(DT(7).AddDays(kMax), DT(kMax));
  EXPECT_EQ(DT(-7).AddMinutes(kMin), DT(kMin));
}

TEST(DateTimeValue, NowIsTheSystemClockInLocalTime) {
  const std::time_t before = std::time(nullptr);
  const DT now = DT::Now();
  std::tm local{};
  ASSERT_NE(localtime_r(&before, &local), nullptr);
  const std::int64_t unixMs = std::int64_t{before} * 1000;
  const std::int64_t expected = unixMs + local.tm_gmtoff * 1000 + 25569 * DT::kMillisecondsPerDay;
  EXPECT_NEAR(static_cast<double>(now.Milliseconds()), static_cast<double>(expected), 2000.0);
}

TEST(DateTimeFormat, Table) {
  struct Case { DT value; const char* text; bool error; };
  const Case cases[] = {
      {DT::FromCivil(2024, 5, 17, 14, 30, 5), "2024-05-17T14:30:05", false},
      {DT::FromCivil(2024, 12, 31, 23, 59, 59, 500), "2025-01-01T00:00:00", false},
      {DT::FromCivil(1899, 12, 30, 12), "T12:00:00", false},
      {DT::FromCivil(1899, 12, 30, 23, 59, 59, 600), "1899-12-31T00:00:00", false},
      {DT{}, "", true},
      {DT::FromCivil(9999, 12, 31, 23, 59, 59, 500), "", true},
      {DT::FromCivil(99, 12, 31, 23, 59, 59), "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.Milliseconds());
    bool error = !c.error;
    EXPECT_EQ(FormatIsoDateTime(c.value, error), c.text);
    EXPECT_EQ(error, c.error);
  }
}

const DT kToday = DT::FromCivil(2024, 6, 15, 9, 41, 7);

TEST(DateTimeParse, AcceptedTexts) {
  struct Case { const char* text; DT value; };
  const Case cases[] = {
      {"2024-5-7", DT::FromCivil(2024, 5, 7)},
      {"t08:15", DT::FromCivil(2024, 6, 15, 8, 15)},
      {"2024-05-17T10", DT::FromCivil(2024, 5, 17)},
      // Hours 24, minutes 60 and seconds 60 carry.
      {"2024-05-17T23:60:60", DT::FromCivil(2024, 5, 18, 0, 1)},
      // Fractional time pieces add fractional time.
      {"2024-05-17T10.5:00", DT::FromCivil(2024, 5, 17, 10, 30)},
      // Date pieces: leading number, blanks inside skipped, halves to even.
      {" 2024 - 05 - 17 T 10 : 30 : 00 ", DT::FromCivil(2024, 5, 17, 10, 30)},
      {"2024.5-5.5-16.5", DT::FromCivil(2024, 6, 16)},
      // Pieces after the seconds are not read.
      {"2024-05-17T10:00:00:99", DT::FromCivil(2024, 5, 17, 10)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    bool error = true;
    EXPECT_EQ(ParseDateTime(c.text, kToday, error), c.value);
    EXPECT_FALSE(error);
  }
}

TEST(DateTimeParse, RejectedTexts) {
  const char* const cases[] = {
      "", "12:00", "2024/05/17", "2024-05",
      "2024-05-17 10:00:00",  // a blank instead of "T": the day reads 1710
      "2023-02-29T10:00:00", "10000-01-01",
      "100-01-00",  // 0099-12-31
      "9999-12-31T24:00:00", "2024-05-17T14:30:05Z", "T25:00", "T10:61", "T:30",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    bool error = false;
    EXPECT_EQ(ParseDateTime(text, kToday, error), DT{});
    EXPECT_TRUE(error);
  }
}

TEST(DateTimeMakeDate, Table) {
  struct Case { std::int16_t y, m, d; DT value; };  // the zero date marks an error
  const Case cases[] = {
      {2024, 2, 29, DT::FromCivil(2024, 2, 29)}, {2023, 2, 29, DT{}}, {1900, 2, 29, DT{}},
      // Two-digit years, the leap rule applied to the full year.
      {0, 2, 29, DT::FromCivil(2000, 2, 29)}, {100, 2, 29, DT{}}, {10000, 1, 1, DT{}},
      {29, 1, 1, DT::FromCivil(2029, 1, 1)}, {30, 1, 1, DT::FromCivil(1930, 1, 1)},
      // Days of 0 and below count back.
      {2024, 3, 0, DT::FromCivil(2024, 2, 29)}, {2024, 1, -32768, DT::FromCivil(1934, 4, 14)},
      {100, 1, 0, DT{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.m << "-" << c.d);
    bool error = c.value != DT{};
    EXPECT_EQ(MakeDate(c.y, c.m, c.d, error), c.value);
    EXPECT_EQ(error, c.value == DT{});
  }
}

}  // namespace
}  // namespace pv
