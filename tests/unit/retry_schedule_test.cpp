#include <gtest/gtest.h>

#include "engine/retry_schedule.h"
#include "settings/spooler_settings.h"

namespace pv {
namespace {

TEST(RetrySchedule, MinutesAfterEachFailure) {
  struct Row {
    std::string_view list;
    std::int32_t retryCount;
    std::optional<std::int32_t> minutes;
  };
  const Row rows[] = {
      {kDefaultRetryInterval, 4, 60},
      {kDefaultRetryInterval, 50, 1440},  // past the list: its last item
      {"", 0, 10},  // no list: always 10
      {kDefaultRetryInterval, 0, std::nullopt},  // the send-after time stays as read
      {" 2.5 min,3.5,x", 1, 2},         {" 2.5 min,3.5,x", 2, 4},  // rounded, halves to even
      {" 2.5 min,3.5,x", 3, 0},  // no leading number
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RetryWaitMinutes(row.retryCount, row.list), row.minutes)
        << "list '" << row.list << "', retry " << row.retryCount;
  }
}

}  // namespace
}  // namespace pv
