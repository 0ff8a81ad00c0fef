#include <gtest/gtest.h>

#include "shell/queue_command.h"

namespace pv {
namespace {

TEST(QueueCommand, JsonStringsAreEscaped) {
  const struct { std::string in, out; } cases[] = {
      {"\"Bé\" <b@y.test>", "\"\\\"Bé\\\" <b@y.test>\""},
      {"a\r\n\tb", "\"a\\r\\n\\tb\""},
      {std::string("nul\0bel\x07" "del\x7f", 12), "\"nul\\u0000bel\\u0007del\\u007f\""},
      {"latin1 \xe9t\xe9", "\"latin1 \\ufffdt\\ufffd\""},  // not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

TEST(QueueCommand, AgesAndTheEmptyTable) {
  const struct { std::int64_t seconds; const char* text; } ages[] = {
      {59, "59s"}, {60, "1m"}, {7500, "2h 05m"}, {190800, "2d 05h"},
  };
  for (const auto& a : ages) EXPECT_EQ(FormatAge(a.seconds), a.text) << a.seconds;

  EXPECT_EQ(FormatQueueTable({}, "/s/"), "0 mail(s) in /s/\n");
}

TEST(QueueCommand, ErrorSummaryIsTheLastFailingReply) {
  const struct { const char* protocol; const char* summary; } cases[] = {
      {"* connected\\r\\nS: 451 4.3.0 later\\r\\nC: QUIT\\r\\nS: 221 bye",
       "S: 451 4.3.0 later"},
      {"* MX y.test: not found (NXDOMAIN)\\r\\n", "* MX y.test: not found (NXDOMAIN)"},
      {"Can not write to '/s/a.eml'. disk full", "Can not write to '/s/a.eml'. disk full"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorSummaryOfProtocol(c.protocol), c.summary) << c.protocol;
}

TEST(QueueCommand, LastErrorIsTheNewestErrorLineOfTheMail) {
  const CsvFormat formats[] = {{"\"", ","}, {"'", ";"}};
  for (const CsvFormat& format : formats) {
    const auto line = [&](std::uint16_t kind, const char* sender, const char* subject,
                          const char* text) {
      return CsvDataLine({"07.12.2026 21:00" + format.separator + "00", "host", "", kind, sender,
                          "b@y.test", subject, 13, text},
                         format);
    };
    const std::string log = CsvHeaderLine(format) +
                            line(1, "a@x.test", "Hi, \"you\"; 'me'", "S: 451 older") +
                            line(1, "other@x.test", "Hi, \"you\"; 'me'", "S: 550 not this") +
                            line(1, "a@x.test", "Hi, \"you\"; 'me'", "* x\r\nS: 452 newer\r\nC: QUIT") +
                            line(4, "a@x.test", "Hi, \"you\"; 'me'", "eMail sent") +
                            line(1, "a@x.test", "Other", "S: 554 other mail");
    EXPECT_EQ(LastErrorInCsv(log, format, "a@x.test", "Hi, \"you\"; 'me'"), "S: 452 newer")
        << format.separator;
    EXPECT_EQ(LastErrorInCsv(log, format, "b@x.test", "Hi"), "") << format.separator;
  }
  EXPECT_TRUE(SplitCsvDataLine("too,few,fields", {}).empty());
}

}  // namespace
}  // namespace pv
