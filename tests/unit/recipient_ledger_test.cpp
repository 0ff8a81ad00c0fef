#include <gtest/gtest.h>

#include "engine/recipient_ledger.h"
#include "transport/recipients.h"

namespace pv {
namespace {

TEST(RecipientLedger, RecipientsAreComparedByAddress) {
  struct Row {
    const char* what;
    std::vector<std::string_view> lists;  // To, Cc, Bcc
    std::string served, refused;          // the control header values
    std::string due;
  };
  const Row rows[] = {
      {"domain without regard to case", {"a@P.Test, B@p.test"}, "a@p.test, b@p.test", "",
       "B@p.test"},
      {"display names and quotes", {"\"Doe, John\" <j@x.test>, Ann <a@x.test>"}, "j@x.test", "",
       "Ann <a@x.test>"},
      {"folded list", {"a@x.test,\r\n\tb@x.test,\r\n c@x.test"}, "a@x.test, c@x.test", "",
       "b@x.test"},
      {"raw items of older files", {"a@x.test,\r\n\t\"Doe, John\" <j@x.test>, c@x.test"},
       "\r\n\t\"Doe, John\" <j@x.test>,a@x.test", "", "c@x.test"},
      {"repetitions among To, Cc, Bcc", {"a@x.test", "A <a@X.TEST>, b@y.test", "b@y.test"}, "",
       "", "a@x.test, b@y.test"},
      {"refused with replies", {"a@x.test, b@y.test, c@z.test"}, "",
       "b@y.test (550 5.1.1 \\(no\\) such, user), c@Z.test (550)", "a@x.test"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const RecipientLedger ledger = RecipientLedger::FromHeaders(row.served, row.refused);
    EXPECT_EQ(JoinDue(ledger.Due(row.lists)), row.due);
  }
}

TEST(RecipientLedger, RefusedRecipientsKeepTheirRepliesThroughTheFile) {
  RecipientLedger ledger = RecipientLedger::FromHeaders("", "old@x.test (550 earlier)");
  const char entries[] =
      "a@x.test\t550 5.1.1 <a@x.test>: no (such) user\\ \r\n\0not an address\tinvalid address: "
      "no \"@\"\0bad <evil@x.test>\tinvalid address: line break\0old@X.test\t550 again";
  ledger.AddRefused(std::string(entries, sizeof entries - 1));
  ledger.AddServed("s@y.test, t@y.test");
  const std::string refused = ledger.RefusedHeaderValue();
  EXPECT_EQ(refused,
            "old@x.test (550 again), a@x.test (550 5.1.1 <a@x.test>: no \\(such\\) user\\\\), "
            "\"not an address\" (invalid address: no \"@\"), "
            "\"bad <evil@x.test>\" (invalid address: line break)");
  EXPECT_EQ(ledger.ServedHeaderValue(), "s@y.test, t@y.test");
  // The value is an address list: every valid address comes out as itself.
  const std::vector<RecipientGroup> groups = GroupRecipientItems(refused);
  ASSERT_EQ(groups.size(), 4u);
  EXPECT_EQ(groups[3].address, "");  // an item's text never reads as an address
  EXPECT_EQ(groups[0].address, "old@x.test");
  EXPECT_EQ(groups[1].address, "a@x.test");

  const RecipientLedger read = RecipientLedger::FromHeaders(ledger.ServedHeaderValue(), refused);
  EXPECT_EQ(read.RefusedProtocol(),
            "old@x.test: 550 again\r\na@x.test: 550 5.1.1 <a@x.test>: no (such) user\\\r\n"
            "not an address: invalid address: no \"@\"\r\n"
            "bad <evil@x.test>: invalid address: line break\r\n");
  EXPECT_EQ(JoinDue(read.Due({"a@X.test, not an address, s@Y.test, u@y.test, evil@x.test"})),
            "u@y.test, evil@x.test");
}

}  // namespace
}  // namespace pv
