#include <gtest/gtest.h>

#include "shell/queue_channel.h"
#include "shell/queue_command.h"

namespace pv {
namespace {

// Listings and results that survive the line: service_queue_test.cpp.
TEST(QueueChannel, LinesThatAreNotAnswersAreRefused) {
  const char* notListings[] = {
      "DENIED", "[{\"file\":\"a.eml\",\"state\":\"lost\"}]", "[{\"state\":\"due\"}]",
  };
  for (const char* line : notListings) {
    std::vector<QueueEntry> entries;
    EXPECT_FALSE(ParseQueueJson(line, entries)) << line;
  }
  const char* notResults[] = {"OK", "[{\"ok\":true}]"};
  for (const char* line : notResults) {
    std::vector<QueueResult> results;
    EXPECT_FALSE(ParseQueueResults(line, results)) << line;
  }
}

}  // namespace
}  // namespace pv
