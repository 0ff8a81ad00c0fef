#include <gtest/gtest.h>

#include "shell/queue_channel.h"
#include "shell/queue_command.h"

namespace pv {
namespace {

TEST(QueueChannel, ListingAndResultsSurviveTheLine) {
  QueueEntry e;
  e.name = "a b.eml.hold";
  e.size = 5000000000;  // above 32 bits
  e.ageSeconds = 190800;
  e.state = QueueState::Held;
  e.sender = "\"Bé, \\x\" <a@x.test>";
  e.subject = "two\r\nlines\tand \x01";
  e.recipients = "b@y.test, c@y.test";
  e.attempts = 3;
  e.nextAttempt = "2026-12-07T22:00:00";
  e.lastError = "S: 451 4.2.1 later";
  QueueEntry due;
  due.name = "b.eml";
  due.state = QueueState::Due;
  const std::vector<QueueEntry> entries = {e, due};

  const std::string line = FormatQueueJsonLine(entries);
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  std::vector<QueueEntry> back;
  ASSERT_TRUE(ParseQueueJson(line, back)) << line;
  // What the client prints from the line is what the direct tool prints.
  EXPECT_EQ(FormatQueueJson(back), FormatQueueJson(entries));
  EXPECT_EQ(FormatQueueTable(back, "/s/"), FormatQueueTable(entries, "/s/"));

  const std::vector<QueueResult> results = {{true, "'a.eml' held as a.eml.hold"},
                                            {false, "'b \"x\".eml' is in hand\n"}};
  std::vector<QueueResult> parsed;
  ASSERT_TRUE(ParseQueueResults(FormatQueueResultsLine(results), parsed));
  ASSERT_EQ(parsed.size(), 2u);
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    EXPECT_EQ(parsed[i].ok, results[i].ok) << i;
    EXPECT_EQ(parsed[i].text, results[i].text) << i;
  }
}

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
