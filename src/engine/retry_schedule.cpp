#include "engine/retry_schedule.h"

#include "settings/ini_store.h"

namespace pv {
namespace {

constexpr std::int32_t kWaitWithoutList = 10;

}  // namespace

std::optional<std::int32_t> RetryWaitMinutes(std::int32_t retryCount,
                                             std::string_view retryInterval) {
  if (retryInterval.empty()) return kWaitWithoutList;
  if (retryCount < 1) return std::nullopt;
  std::size_t start = 0;
  for (std::int32_t item = 1;; ++item) {
    const std::size_t comma = retryInterval.find(',', start);
    if (item == retryCount || comma == std::string_view::npos) {
      return SettingTextToLong(retryInterval.substr(start, comma == std::string_view::npos
                                                               ? comma
                                                               : comma - start));
    }
    start = comma + 1;
  }
}

}  // namespace pv
