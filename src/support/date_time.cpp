#include "support/date_time.h"

#include <chrono>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <vector>

#include "support/text.h"

namespace pv {
namespace {

namespace chr = std::chrono;
using Int64Limits = std::numeric_limits<std::int64_t>;

constexpr chr::sys_days kZeroDate = chr::sys_days{chr::year{1899} / chr::December / 30};

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days from the zero date to the given date; months beyond 1 ... 12 and days beyond the
// month's length carry over.
constexpr std::int64_t DaysSinceZero(int year, int month, int day) {
  const std::int64_t monthIndex = std::int64_t{month} - 1;
  const auto fullYear = static_cast<int>(year + FloorDiv(monthIndex, 12));
  const auto monthOfYear = static_cast<unsigned>(monthIndex - FloorDiv(monthIndex, 12) * 12 + 1);
  const chr::sys_days first{chr::year{fullYear} / chr::month{monthOfYear} / 1};
  return (first - kZeroDate).count() + (std::int64_t{day} - 1);
}

// The dates that are formatted and parsed: 0100-01-01 to the last millisecond of 9999-12-31.
constexpr std::int64_t kFirstSupported = DaysSinceZero(100, 1, 1) * LocalDateTime::kMillisecondsPerDay;
constexpr std::int64_t kLastSupported =
    DaysSinceZero(10000, 1, 1) * LocalDateTime::kMillisecondsPerDay - 1;

bool InSupportedRange(LocalDateTime value) {
  return value.Milliseconds() >= kFirstSupported && value.Milliseconds() <= kLastSupported;
}

std::int64_t SaturatedAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? Int64Limits::max() : Int64Limits::min();
  return sum;
}

std::int64_t SaturatedScale(std::int64_t amount, std::int64_t unit) {
  std::int64_t product = 0;
  if (__builtin_mul_overflow(amount, unit, &product))
    return amount > 0 ? Int64Limits::max() : Int64Limits::min();
  return product;
}

chr::year_month_day CivilDate(std::int64_t milliseconds) {
  const std::int64_t days = FloorDiv(milliseconds, LocalDateTime::kMillisecondsPerDay);
  return chr::year_month_day{kZeroDate + chr::days{days}};
}

int MonthLength(int year, int month) {
  static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(static_cast<std::int16_t>(year))) return 29;
  return kLengths[month - 1];
}

// ---- Formatting -------------------------------------------------------------------------

void AppendPadded(std::string& out, int value, std::size_t width) {
  const std::string digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

LocalDateTime RoundToSecond(LocalDateTime value) {
  const std::int64_t ms = value.Milliseconds();
  const std::int64_t seconds = FloorDiv(ms, LocalDateTime::kMillisecondsPerSecond);
  const std::int64_t rest = ms - seconds * LocalDateTime::kMillisecondsPerSecond;
  return LocalDateTime((seconds + (rest >= 500 ? 1 : 0)) * LocalDateTime::kMillisecondsPerSecond);
}

// ---- Numbers ----------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct NumberScan {
  std::string chars;  // sign, digits and decimal point, blanks left out
  std::size_t end = 0;
  bool hasDigit = false;
};

// Scans an optional sign, digits and an optional fraction from the start of text. With
// `skipBlanks`, blanks before and anywhere inside the number are passed over.
NumberScan ScanNumber(std::string_view text, bool skipBlanks) {
  NumberScan scan;
  std::size_t& i = scan.end;
  const auto skip = [&] {
    while (skipBlanks && i < text.size() && IsBlank(text[i])) ++i;
  };
  skip();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') scan.chars += '-';
    ++i;
  }
  bool point = false;
  for (skip(); i < text.size(); ++i, skip()) {
    const char c = text[i];
    if (IsDigit(c)) {
      scan.hasDigit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    scan.chars += c;
  }
  return scan;
}

// The value of a scan; false when it exceeds the range of a double.
bool ScanValue(const NumberScan& scan, double& value) {
  value = 0;
  if (!scan.hasDigit) return true;
  std::string_view chars = scan.chars;
  if (chars.back() == '.') chars.remove_suffix(1);
  const auto [end, ec] = std::from_chars(chars.data(), chars.data() + chars.size(), value);
  return ec == std::errc{} && end == chars.data() + chars.size();
}

// Rounds to the nearest integer, halves to even; false outside the 16-bit range.
bool ToInt16(double value, std::int16_t& out) {
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  if (whole < std::numeric_limits<std::int16_t>::min() ||
      whole > std::numeric_limits<std::int16_t>::max())
    return false;
  out = static_cast<std::int16_t>(whole);
  return true;
}

// A date piece: its leading number ("17 10" reads 1710, "5th" reads 5, "x" reads 0).
bool ReadDatePiece(std::string_view piece, std::int16_t& out) {
  double value = 0;
  return ScanValue(ScanNumber(piece, true), value) && ToInt16(value, out);
}

// A time piece: a number and nothing else but surrounding blanks.
bool ReadTimePiece(std::string_view piece, double& value) {
  const std::string_view number = Trim(piece, " \t\n");
  const NumberScan scan = ScanNumber(number, false);
  return scan.hasDigit && scan.end == number.size() && ScanValue(scan, value);
}

// ---- Parsing ----------------------------------------------------------------------------

bool ParseDatePart(std::string_view text, LocalDateTime& date) {
  const std::vector<std::string> pieces = Split(text, '-');
  if (pieces.size() != 3) return false;
  std::int16_t fields[3] = {};
  for (std::size_t i = 0; i < 3; ++i)
    if (!ReadDatePiece(pieces[i], fields[i])) return false;
  bool error = false;
  date = MakeDate(fields[0], fields[1], fields[2], error);
  return !error;
}

bool TodaysDate(LocalDateTime today, LocalDateTime& date) {
  if (!InSupportedRange(today)) return false;
  bool error = false;
  date = MakeDate(static_cast<std::int16_t>(today.Year()), static_cast<std::int16_t>(today.Month()),
                  static_cast<std::int16_t>(today.Day()), error);
  return !error;
}

// Adds "hours:minutes[:seconds]" to value; a text without ":" adds nothing.
bool AddTimePart(std::string_view text, LocalDateTime& value) {
  if (text.find(':') == std::string_view::npos) return true;
  struct Unit {
    double limit;
    std::int64_t milliseconds;
  };
  static constexpr Unit kUnits[] = {{25, LocalDateTime::kMillisecondsPerHour},
                                    {61, LocalDateTime::kMillisecondsPerMinute},
                                    {61, LocalDateTime::kMillisecondsPerSecond}};
  const std::vector<std::string> pieces = Split(text, ':');
  for (std::size_t i = 0; i < pieces.size() && i < 3; ++i) {
    double amount = 0;
    if (!ReadTimePiece(pieces[i], amount) || !(amount > -1 && amount < kUnits[i].limit))
      return false;
    value = value.AddMilliseconds(std::llround(amount * static_cast<double>(kUnits[i].milliseconds)));
  }
  return InSupportedRange(value);
}

}  // namespace

// ---- LocalDateTime ----------------------------------------------------------------------

LocalDateTime LocalDateTime::FromCivil(int year, int month, int day, int hour, int minute,
                                       int second, int millisecond) {
  return LocalDateTime(DaysSinceZero(year, month, day) * kMillisecondsPerDay +
                       std::int64_t{hour} * kMillisecondsPerHour +
                       std::int64_t{minute} * kMillisecondsPerMinute +
                       std::int64_t{second} * kMillisecondsPerSecond + millisecond);
}

LocalDateTime LocalDateTime::Now() {
  const auto now = chr::system_clock::now();
  const auto seconds = chr::floor<chr::seconds>(now);
  const auto millisecond = static_cast<int>(chr::floor<chr::milliseconds>(now - seconds).count());
  const std::time_t time = chr::system_clock::to_time_t(seconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) {
    // Without a local time the system clock's own reading is the best there is.
    const auto sinceEpoch = chr::floor<chr::milliseconds>(now).time_since_epoch().count();
    return LocalDateTime(sinceEpoch - (kZeroDate.time_since_epoch().count() * kMillisecondsPerDay));
  }
  return FromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min, local.tm_sec, millisecond);
}

int LocalDateTime::Year() const { return static_cast<int>(CivilDate(milliseconds_).year()); }
int LocalDateTime::Month() const {
  return static_cast<int>(static_cast<unsigned>(CivilDate(milliseconds_).month()));
}
int LocalDateTime::Day() const {
  return static_cast<int>(static_cast<unsigned>(CivilDate(milliseconds_).day()));
}
int LocalDateTime::Hour() const {
  return static_cast<int>(TimeOfDayMilliseconds() / kMillisecondsPerHour);
}
int LocalDateTime::Minute() const {
  return static_cast<int>(TimeOfDayMilliseconds() / kMillisecondsPerMinute % 60);
}
int LocalDateTime::Second() const {
  return static_cast<int>(TimeOfDayMilliseconds() / kMillisecondsPerSecond % 60);
}
int LocalDateTime::Millisecond() const {
  return static_cast<int>(TimeOfDayMilliseconds() % kMillisecondsPerSecond);
}

LocalDateTime LocalDateTime::DatePart() const {
  return LocalDateTime(FloorDiv(milliseconds_, kMillisecondsPerDay) * kMillisecondsPerDay);
}

std::int64_t LocalDateTime::TimeOfDayMilliseconds() const {
  return milliseconds_ - DatePart().milliseconds_;
}

LocalDateTime LocalDateTime::AddMilliseconds(std::int64_t amount) const {
  return LocalDateTime(SaturatedAdd(milliseconds_, amount));
}
LocalDateTime LocalDateTime::AddSeconds(std::int64_t amount) const {
  return AddMilliseconds(SaturatedScale(amount, kMillisecondsPerSecond));
}
LocalDateTime LocalDateTime::AddMinutes(std::int64_t amount) const {
  return AddMilliseconds(SaturatedScale(amount, kMillisecondsPerMinute));
}
LocalDateTime LocalDateTime::AddDays(std::int64_t amount) const {
  return AddMilliseconds(SaturatedScale(amount, kMillisecondsPerDay));
}

// ---- Text form --------------------------------------------------------------------------

std::string FormatIsoDateTime(LocalDateTime value, bool& error) {
  error = true;
  if (value == LocalDateTime{} || !InSupportedRange(value)) return "";
  const LocalDateTime rounded = RoundToSecond(value);
  if (!InSupportedRange(rounded)) return "";
  error = false;
  std::string text;
  if (rounded.DatePart() != LocalDateTime{}) {
    AppendPadded(text, rounded.Year(), 4);
    text += '-';
    AppendPadded(text, rounded.Month(), 2);
    text += '-';
    AppendPadded(text, rounded.Day(), 2);
  }
  text += 'T';
  AppendPadded(text, rounded.Hour(), 2);
  text += ':';
  AppendPadded(text, rounded.Minute(), 2);
  text += ':';
  AppendPadded(text, rounded.Second(), 2);
  return text;
}

LocalDateTime ParseDateTime(std::string_view text, LocalDateTime today, bool& error) {
  error = true;
  if (text.empty()) return {};
  std::string_view dateText = text;
  std::string_view timeText = "00:00:00";
  const std::size_t separator = text.find_first_of("Tt");
  if (separator != std::string_view::npos) {
    dateText = text.substr(0, separator);
    timeText = text.substr(separator + 1);
  }
  LocalDateTime result;
  const bool dateRead = dateText.empty() ? TodaysDate(today, result) : ParseDatePart(dateText, result);
  if (!dateRead || !AddTimePart(timeText, result)) return {};
  error = false;
  return result;
}

LocalDateTime ParseDateTime(std::string_view text, bool& error) {
  return ParseDateTime(text, LocalDateTime::Now(), error);
}

LocalDateTime MakeDate(std::int16_t year, std::int16_t month, std::int16_t day, bool& error) {
  error = true;
  if (year < 0 || year > 9999 || month < 1 || month > 12) return {};
  // Two-digit years fall into 1930 ... 2029.
  const int fullYear = year < 30 ? 2000 + year : year < 100 ? 1900 + year : year;
  if (day > MonthLength(fullYear, month)) return {};
  const LocalDateTime date = LocalDateTime::FromCivil(fullYear, month, day);
  if (!InSupportedRange(date)) return {};
  error = false;
  return date;
}

bool IsLeapYear(std::int16_t year) {
  if (year % 4 != 0) return false;
  if (year % 100 != 0) return true;
  return year % 400 == 0;
}

int WeekdayOf(LocalDateTime value) {
  const chr::sys_days day = kZeroDate + chr::days{FloorDiv(value.Milliseconds(), LocalDateTime::kMillisecondsPerDay)};
  return static_cast<int>(chr::weekday{day}.c_encoding());
}

int DayOfYear(LocalDateTime value) {
  return static_cast<int>(FloorDiv(value.DatePart().Milliseconds() -
                                       LocalDateTime::FromCivil(value.Year(), 1, 1).Milliseconds(),
                                   LocalDateTime::kMillisecondsPerDay));
}

std::tm ToTm(LocalDateTime value) {
  std::tm fields{};
  fields.tm_year = value.Year() - 1900;
  fields.tm_mon = value.Month() - 1;
  fields.tm_mday = value.Day();
  fields.tm_hour = value.Hour();
  fields.tm_min = value.Minute();
  fields.tm_sec = value.Second();
  fields.tm_wday = WeekdayOf(value);
  fields.tm_yday = DayOfYear(value);
  fields.tm_isdst = -1;
  return fields;
}

std::string FormatGeneralDate(LocalDateTime value) {
  const std::tm fields = ToTm(value);
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &fields);
  return std::string(buffer, length);
}

}  // namespace pv
