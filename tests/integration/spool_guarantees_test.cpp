// What the spooler promises about each mail, against the real `postvane service=1` and the
// rig: every recipient gets a partly failed mail once, and a recipient refused for good is not
// asked again. (A name taken meanwhile, a file in a writer's hands: spool_engine_test.cpp.)
#include "service_fixture.h"

namespace pv {
namespace {

class SpoolGuaranteeTest : public ServiceTest {
 protected:
  std::size_t Received(const std::string& recipient) const {
    return MailsTo("RIG_MX1_MAILDIR", recipient).size();
  }
  std::size_t Asked(const std::string& recipient) const {
    return RcptCommandsFor("RIG_MX1_TRANSCRIPT", recipient);
  }
};

TEST_F(SpoolGuaranteeTest, EachRecipientGetsAPartlyFailedMailOnce) {
  struct Row {
    const char* file;
    std::vector<std::string> kinds;  // "deferonce...": 451 at the first attempt only
    std::string to;                  // with {0}, {1}, {2} for the addresses
  };
  const Row rows[] = {
      {"first.eml", {"deferonce1", "p1", "q1"}, "{0}, {1}, {2}"},
      {"middle.eml", {"p2", "deferonce2", "q2"}, "{0},{1} , {2}"},
      {"last.eml", {"p3", "q3", "deferonce3"}, "{0}, {1}, {2}"},
      {"folded.eml", {"p4", "deferonce4", "q4"},
       "First <{0}>,\r\n\t\"Doe, John\" <{1}>,\r\n \"Q\" <{2}>, {1}"},
  };
  for (const Row& row : rows) {
    std::string to = row.to;
    for (std::size_t i = 0; i < row.kinds.size(); ++i) {
      const std::string slot = "{" + std::to_string(i) + "}";
      for (auto at = to.find(slot); at != std::string::npos; at = to.find(slot))
        to.replace(at, slot.size(), Address(row.kinds[i]));
    }
    Drop(row.file, Mail(to, "", row.file));
  }
  StartSpooler({{"UpDelay", "1"}, {"MaxRetryCount", "5"}});
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); }, std::chrono::seconds(40)))
      << ::testing::PrintToString(SpoolNames());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    for (const std::string& kind : row.kinds) {
      const bool deferred = kind.rfind("deferonce", 0) == 0;
      EXPECT_EQ(Received(Address(kind)), 1u) << kind;
      EXPECT_EQ(Asked(Address(kind)), deferred ? 2u : 1u) << kind;
    }
  }
  // The success lines name the addresses readably: no folding, no stray commas.
  for (const CsvRow& row : CsvRowsWithCode("0")) {
    EXPECT_EQ(row[kMessage].find('\r'), std::string::npos) << row[kMessage];
    EXPECT_NE(row[kMessage].find("@a.test'"), std::string::npos) << row[kMessage];
  }
  EXPECT_EQ(CsvRowsWithCode("0").size(), std::size(rows));
  StopSpooler();
}

TEST_F(SpoolGuaranteeTest, ARecipientRefusedForGoodIsAskedOnce) {
  const std::string rejected = Address("reject"), later = Address("deferonce"),
                    ok = Address("ok"), alone = Address("reject2"), returnTo = Address("ret");
  const std::string headers = "X-pvx-ReturnTo: " + returnTo + "\r\n";
  Drop("mixed.eml", Mail(rejected + ", " + later + ", " + ok, headers, "mixed"));
  Drop("alone.eml", Mail(alone, headers, "alone"));
  StartSpooler({{"UpDelay", "1"}, {"MaxRetryCount", "9"}});

  ASSERT_TRUE(WaitUntil([&] { return MailsTo("RIG_MX1_MAILDIR", returnTo).size() == 2; },
                        std::chrono::seconds(40)));
  ASSERT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());
  EXPECT_EQ(Asked(rejected), 1u);
  EXPECT_EQ(Asked(alone), 1u);
  EXPECT_EQ(Received(later), 1u);
  EXPECT_EQ(Received(ok), 1u);
  for (const ReceivedMail& mail : MailsTo("RIG_MX1_MAILDIR", returnTo)) {
    const std::string protocol = Base64Of(mail.eml, "Protocol.txt");
    const std::string& who = protocol.find(alone) != std::string::npos ? alone : rejected;
    EXPECT_NE(protocol.find(who + ": 550 5.1.1"), std::string::npos) << protocol;
  }
  StopSpooler();
}

}  // namespace
}  // namespace pv
