// The arguments of postvane-spool.
#include "scripting/tool/spool_tool_args.h"

#include <gtest/gtest.h>

namespace pv {
namespace {

using Args = std::vector<std::string>;

TEST(SpoolToolArgs, MailOptionsInBothForms) {
  const SpoolToolArgs parsed = ParseSpoolToolArgs(
      {"mail", "--subject=Hi: there", "--from", "a@x.example", "--to", "b@y.example,c@y.example",
       "--attach", "/a", "--attach=/b", "--header", "X-Job:  nightly ", "--no-run"});
  ASSERT_EQ(parsed.command, SpoolToolCommand::Mail) << parsed.error;
  EXPECT_EQ(parsed.mail.subject, "Hi: there");
  EXPECT_EQ(parsed.mail.to, "b@y.example,c@y.example");
  EXPECT_EQ(parsed.mail.attachments, (Args{"/a", "/b"}));
  ASSERT_EQ(parsed.mail.headers.size(), 1u);
  EXPECT_EQ(parsed.mail.headers[0].first, "X-Job");
  EXPECT_EQ(parsed.mail.headers[0].second, "nightly");
  EXPECT_FALSE(parsed.mail.run);
}

TEST(SpoolToolArgs, CommandsAndUsageErrors) {
  const Args mail = {"mail", "--subject", "s", "--from", "a@x.example", "--to", "b@y.example"};
  const auto with = [&](Args more) {
    Args args = mail;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const struct {
    Args args;
    SpoolToolCommand command;
    std::string error;
  } cases[] = {
      {{"--help"}, SpoolToolCommand::Help, ""},
      {{"trace", "--dns", "127.0.0.1:53", "a@x.example", "b@y.example"}, SpoolToolCommand::Trace, ""},
      {mail, SpoolToolCommand::Mail, ""},
      {{}, SpoolToolCommand::UsageError, "no command"},
      {{"send"}, SpoolToolCommand::UsageError, "unknown command \"send\""},
      {{"trace", "a@x.example"}, SpoolToolCommand::UsageError, "trace needs FROM and TO"},
      {{"mail", "--from", "a@x.example", "--to", "b@y.example"}, SpoolToolCommand::UsageError,
       "mail: --subject is required"},
      {with({"--header", "no colon"}), SpoolToolCommand::UsageError,
       "mail: --header needs \"Name: value\", not \"no colon\""},
      {with({"b@z.example"}), SpoolToolCommand::UsageError, "mail: unknown argument \"b@z.example\""},
  };
  for (const auto& c : cases) {
    const SpoolToolArgs parsed = ParseSpoolToolArgs(c.args);
    EXPECT_EQ(parsed.command, c.command) << parsed.error;
    EXPECT_EQ(parsed.error, c.error);
  }
}

}  // namespace
}  // namespace pv
