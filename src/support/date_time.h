#pragma once
// Local wall-clock dates and times, and their text form in the X-pvx-SendAfter header.
//
// A `LocalDateTime` is a count of milliseconds since the zero date, 1899-12-30 00:00:00, read
// as local wall-clock time: no time zone or offset is ever applied. The count is linear, so
// adding seconds, minutes or days is plain arithmetic on it and equals the calendar addition.
// Dates the program writes and reads lie between 0100-01-01 and 9999-12-31; a value outside
// that span can exist in memory but is neither formatted nor produced by parsing.
#include <compare>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace pv {

class LocalDateTime {
 public:
  static constexpr std::int64_t kMillisecondsPerSecond = 1000;
  static constexpr std::int64_t kMillisecondsPerMinute = 60 * kMillisecondsPerSecond;
  static constexpr std::int64_t kMillisecondsPerHour = 60 * kMillisecondsPerMinute;
  static constexpr std::int64_t kMillisecondsPerDay = 24 * kMillisecondsPerHour;

  // The zero date at midnight.
  constexpr LocalDateTime() = default;
  constexpr explicit LocalDateTime(std::int64_t millisecondsSinceZero)
      : milliseconds_(millisecondsSinceZero) {}

  // The value of the given civil fields. Fields beyond their ranges carry over (month 13 is
  // January of the next year, day 0 the last day of the previous month, hour 24 the next
  // midnight), so any combination with a resulting year in -32767 ... 32767 gives a value.
  static LocalDateTime FromCivil(int year, int month, int day, int hour = 0, int minute = 0,
                                 int second = 0, int millisecond = 0);
  // The current local time of the system clock.
  static LocalDateTime Now();

  std::int64_t Milliseconds() const { return milliseconds_; }

  int Year() const;
  int Month() const;  // 1 ... 12
  int Day() const;    // 1 ... 31
  int Hour() const;
  int Minute() const;
  int Second() const;
  int Millisecond() const;

  // Midnight of the same day, and the time elapsed since it (0 ... one day less 1 ms).
  LocalDateTime DatePart() const;
  std::int64_t TimeOfDayMilliseconds() const;

  // Calendar additions; negative amounts go back. Results saturate at the ends of the count.
  LocalDateTime AddMilliseconds(std::int64_t amount) const;
  LocalDateTime AddSeconds(std::int64_t amount) const;
  LocalDateTime AddMinutes(std::int64_t amount) const;
  LocalDateTime AddDays(std::int64_t amount) const;

  friend auto operator<=>(const LocalDateTime&, const LocalDateTime&) = default;

 private:
  std::int64_t milliseconds_ = 0;
};

// "yyyy-mm-ddThh:nn:ss", rounded to the nearest second; a value on the zero date is written
// as its time only, "Thh:nn:ss". The zero date at midnight exactly, and a value outside the
// supported dates, give "" with error set.
std::string FormatIsoDateTime(LocalDateTime value, bool& error);

// Reads "date[Ttime]" as written by FormatIsoDateTime and the forms people write by hand.
// The date is "year-month-day", each piece read as its leading number ("2024-5-7"), and
// defaults to `today`'s date when the text starts with "T"; the time is "hours:minutes" with
// optional ":seconds", each piece wholly a number, and defaults to midnight. Hours up to 24,
// minutes and seconds up to 60 carry into the next unit. On error the result is the zero date.
LocalDateTime ParseDateTime(std::string_view text, LocalDateTime today, bool& error);
// As above, with today's date from the system clock.
LocalDateTime ParseDateTime(std::string_view text, bool& error);

// A validated calendar date at midnight. Years 0 ... 29 mean 2000 ... 2029 and 30 ... 99 mean
// 1930 ... 1999; years outside 0 ... 9999, months outside 1 ... 12 and days past the end of
// the month are errors. A day of 0 or below counts back from the first of the month.
LocalDateTime MakeDate(std::int16_t year, std::int16_t month, std::int16_t day, bool& error);

bool IsLeapYear(std::int16_t year);

// The general date format of the user's locale (LC_TIME): short date, a blank, long time.
std::string FormatGeneralDate(LocalDateTime value);
// The broken-down time of the C library (tm_isdst -1: the library decides).
std::tm ToTm(LocalDateTime value);
// 0 for Sunday ... 6 for Saturday.
int WeekdayOf(LocalDateTime value);
// 0 for 1 January.
int DayOfYear(LocalDateTime value);

}  // namespace pv
