#include <gtest/gtest.h>

#include "transport/recipients.h"

namespace pv {
namespace {

using Items = std::vector<std::string>;

// Groups of a list as "address|item|item..." ("!error part|item..." for an invalid one).
std::vector<std::string> Describe(const std::string& list) {
  std::vector<std::string> out;
  for (const RecipientGroup& group : GroupRecipientItems(list)) {
    std::string text = group.ok() ? group.address : "!" + group.error;
    for (const std::string& item : group.items) text += "|" + item;
    out.push_back(text);
  }
  return out;
}

TEST(RecipientGroups, JoinItemsCutInsideQuotesCommentsAndAngles) {
  const std::vector<std::pair<std::string, Items>> cases = {
      {"\"Doe, John\" <j@x.example>", {"j@x.example|\"Doe| John\" <j@x.example>"}},
      {"Name <n@x.example>, o@y.example",
       {"n@x.example|Name <n@x.example>", "o@y.example| o@y.example"}},
      {"a@x.example,\r\n\tb@y.example",
       {"a@x.example|a@x.example", "b@y.example|\r\n\tb@y.example"}},
      {"x@y.example (Smith, J) ,z@w.example",
       {"x@y.example|x@y.example (Smith| J) ", "z@w.example|z@w.example"}},
      {"<a@b.example, c@d.example>",
       {"!invalid address: more than one \"@\"|<a@b.example| c@d.example>"}},
      {"a@b.example,nobody", {"a@b.example|a@b.example", "!invalid address: no \"@\"|nobody"}},
  };
  for (const auto& [list, expected] : cases) EXPECT_EQ(Describe(list), expected) << list;
}

TEST(RecipientGroups, DisplayNamesAreUnquotedWithoutComments) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"Doe, John\" <j@x.example>", "Doe, John"},
      {"John (the boss)\r\n\tDoe <j@x.example>", "John Doe"},
      {"j@x.example (Accounts)", ""},
  };
  for (const auto& [text, name] : cases) EXPECT_EQ(ParseMailbox(text).displayName, name) << text;
}

TEST(RecipientMailbox, AddressesAreValidatedBeforeTheyReachSmtp) {
  // text, expected address, or the reason after "invalid address: ".
  const std::vector<std::pair<std::string, std::string>> valid = {
      {"a(comment)@b.example (Accounts)", "a@b.example"},
      {"\"a@b c\"@x.example", "\"a@b c\"@x.example"},
      {"jörg@bücher.example", "jörg@bücher.example"},
      {"a@[192.0.2.1]", "a@[192.0.2.1]"},
      {"Ann\tLee <a@b.example>\t", "a@b.example"},  // a TAB outside the address is a blank
  };
  for (const auto& [text, address] : valid) {
    const Mailbox mailbox = ParseMailbox(text);
    EXPECT_EQ(mailbox.error, "") << text;
    EXPECT_EQ(mailbox.address, address) << text;
  }
  const std::vector<std::pair<std::string, std::string>> invalid = {
      {"john", "no \"@\""},
      {"a@b@c.example", "more than one \"@\""},
      {"a@", "empty domain"},
      {"John Doe a@b.example", "blank"},
      {"a@b.example\r\nRSET", "line break"},
      {std::string("a\x01@b.example"), "control character"},
      {"\"a\tb\"@b.example", "control character"},  // quoted: still not for an SMTP command
      {"<a@b.example", "unclosed \"<\""},
      {"a..b@b.example", "misplaced \".\" in local part"},
      {"a@[300.1.1.1]", "bad address literal"},
      {std::string(65, 'a') + "@b.example", "local part longer than 64 characters"},
  };
  for (const auto& [text, reason] : invalid) {
    const Mailbox mailbox = ParseMailbox(text);
    EXPECT_EQ(mailbox.error, "invalid address: " + reason) << text;
    EXPECT_EQ(mailbox.address, "") << text;
  }
}

TEST(RecipientMailbox, DomainAndFirstMailboxOfFrom) {
  EXPECT_EQ(DomainOfAddress("\"x@Y\"@Host.Example"), "host.example");
  EXPECT_EQ(DomainOfAddress("a@[IPv6:2001:DB8::1]"), "[IPv6:2001:DB8::1]");
  EXPECT_EQ(DomainOfAddress("nobody"), "");

  const std::vector<std::pair<std::string, std::string>> from = {
      {"\"Doe, John\" <j@x.example>, b@y.example", "j@x.example"},
      {"junk, a@b.example", ""},
  };
  for (const auto& [value, address] : from) EXPECT_EQ(ExtractMailbox(value), address) << value;
}

}  // namespace
}  // namespace pv
