#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripting/sendmail/sendmail_args.h"

namespace pv {
namespace {

struct ArgsCase {
  std::vector<std::string> args;
  std::string error;  // a part of the usage error; "" when the arguments are valid
  SendmailMode mode = SendmailMode::Submit;
  bool t = false, i = false;
  std::string sender = {};
  std::string fullName = {};
  std::vector<std::string> recipients = {};
};

TEST(SendmailArgs, OptionsAsMailProgramsPassThem) {
  using M = SendmailMode;
  const std::vector<ArgsCase> cases = {
      {{"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "user"}, "", M::Submit, false, true, "",
       "CronDaemon", {"user"}},                                                         // cron
      // Values attached or separate; letters grouped as getopt groups them.
      {{"-fme@x.test", "-F", "John Doe", "a@x.test"}, "", M::Submit, false, false, "me@x.test",
       "John Doe", {"a@x.test"}},
      {{"-ti"}, "", M::Submit, true, true},
      {{"-tfme@x.test"}, "", M::Submit, true, false, "me@x.test"},
      {{"-f", "<>", "-t"}, "", M::Submit, true, false, ""},
      {{"-o", "i"}, "", M::Submit, false, true},
      // Ignored: each takes its value, which must not become a recipient.
      {{"-oem", "-oee", "-odi", "-odb", "-om", "-bm", "-v", "-m", "-t"}, "", M::Submit, true},
      {{"-B", "7BIT", "-N", "never", "-R", "hdrs", "-V", "id1", "a@x.test"}, "", M::Submit, false,
       false, "", "", {"a@x.test"}},
      // Options end at the first recipient, or at "--".
      {{"a@x.test", "-t"}, "", M::Submit, false, false, "", "", {"a@x.test", "-t"}},
      {{"--", "-t"}, "", M::Submit, false, false, "", "", {"-t"}},
      {{"-q"}, "", M::SpoolNow},
      {{"-bp"}, "", M::ListQueue},
      // Usage errors.
      {{"-x"}, "unknown option -x"},
      {{"-oQ/var/spool"}, "unknown option -oQ/var/spool"},
      {{"-bs"}, "-bs (SMTP on standard input) is not supported"},
      {{"-B", "9BIT"}, "-B takes 7BIT or 8BITMIME"},
      {{"-f"}, "option -f needs a value"},
      {{"-q30m"}, "-q with a queue interval is not supported"},
      {{"-q", "a@x.test"}, "take no recipients"},
      {{"-q", "-bp"}, "exclude each other"},
  };
  for (const ArgsCase& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    SCOPED_TRACE(shown);
    const SendmailArgsResult r = ParseSendmailArgs(c.args);
    if (!c.error.empty()) {
      EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
      continue;
    }
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.mode, c.mode);
    EXPECT_EQ(r.options.recipientsFromHeaders, c.t);
    EXPECT_EQ(r.options.dotIsData, c.i);
    EXPECT_EQ(r.options.sender, c.sender);
    EXPECT_EQ(r.options.fullName, c.fullName);
    EXPECT_EQ(r.options.recipients, c.recipients);
  }
}

TEST(SendmailArgs, AnEmptySenderIsStillGiven) {
  const SendmailArgsResult r = ParseSendmailArgs({"-f", "<>", "a@x.test"});
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r.options.senderGiven);
  EXPECT_FALSE(ParseSendmailArgs({"a@x.test"}).options.senderGiven);
}

}  // namespace
}  // namespace pv
