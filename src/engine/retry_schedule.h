#pragma once
// When a failed mail is tried again: a list of minute counts, one per failed attempt.
#include <cstdint>
#include <optional>
#include <string_view>

namespace pv {

// Minutes to wait after the failure that made the retry count `retryCount`: item number
// retryCount (from 1) of the comma list `retryInterval`, the last item once the count runs past
// the list, 10 when the list is empty. An item counts by its leading number, rounded (0 when
// it has none). No value for a count below 1 (a negative header value): the send-after time
// stays as the file had it.
std::optional<std::int32_t> RetryWaitMinutes(std::int32_t retryCount,
                                             std::string_view retryInterval);

}  // namespace pv
