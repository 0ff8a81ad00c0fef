// Dates: reading any text, and formatting then reading back a value of the supported span.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "support/date_time.h"

namespace {

const pv::LocalDateTime kToday = pv::LocalDateTime::FromCivil(2026, 12, 7);

// Rounded to the nearest second (the count is negative before the zero date).
pv::LocalDateTime ToWholeSecond(pv::LocalDateTime value) {
  const std::int64_t second = pv::LocalDateTime::kMillisecondsPerSecond;
  const std::int64_t shifted = value.Milliseconds() + second / 2;
  std::int64_t whole = shifted / second;
  if (shifted % second < 0) --whole;
  return pv::LocalDateTime(whole * second);
}

// A value that is read back must come back from its own text.
void CheckReadsBack(pv::LocalDateTime value) {
  bool error = false;
  // Exactly half a second may round either way.
  if (value.Milliseconds() % pv::LocalDateTime::kMillisecondsPerSecond == 500 ||
      value.Milliseconds() % pv::LocalDateTime::kMillisecondsPerSecond == -500)
    return;
  const std::string text = pv::FormatIsoDateTime(value, error);
  if (error) {
    FUZZ_CHECK(text.empty());
    return;
  }
  bool parseError = false;
  const pv::LocalDateTime back = pv::ParseDateTime(text, kToday, parseError);
  FUZZ_CHECK(!parseError);
  const pv::LocalDateTime expected = ToWholeSecond(value);
  // A value on the zero date is written as its time alone and read on today's date.
  if (expected.DatePart() == pv::LocalDateTime())
    FUZZ_CHECK(back == kToday.AddMilliseconds(expected.TimeOfDayMilliseconds()));
  else
    FUZZ_CHECK(back == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const pv::LocalDateTime first = pv::LocalDateTime::FromCivil(100, 1, 1);
  const pv::LocalDateTime last = pv::LocalDateTime::FromCivil(9999, 12, 31, 23, 59, 59);
  CheckReadsBack(pv::LocalDateTime(
      input.ConsumeIntegralInRange<std::int64_t>(first.Milliseconds(), last.Milliseconds())));

  const std::string text = input.ConsumeRemainingBytesAsString();
  bool error = false;
  const pv::LocalDateTime parsed = pv::ParseDateTime(text, kToday, error);
  if (error) {
    FUZZ_CHECK(parsed == pv::LocalDateTime());
  } else {
    FUZZ_CHECK(parsed >= first && parsed <= last.AddSeconds(1));
    CheckReadsBack(parsed);
  }
  return 0;
}
