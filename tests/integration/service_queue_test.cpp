// The queue tools against the real `postvane service=1`: a mail deferred by the rig's server
// is listed with its attempt and the server's reply, and sent at once by --retry-now although
// its next attempt is an hour away. Then the same tools through
// the service's control channel, as a member of the group postvane uses them.
#include "service_fixture.h"

namespace pv {
namespace {

using ServiceQueueTest = ServiceTest;

TEST_F(ServiceQueueTest, RetryNowSendsADeferredMailAtOnce) {
  const std::string to = Address("deferonce");
  Drop("later.eml", Mail(to));
  StartSpooler({{"UpDelay", "3600"}, {"RetryInterval", "60"}});
  // The run at start met the 451 and rescheduled the mail an hour ahead.
  ASSERT_TRUE(WaitUntil([&] {
    return SpoolText("later.eml").find("X-pvx-Retry: 1\r\n") != std::string::npos;
  })) << ::testing::PrintToString(SpoolNames());

  const test::CommandResult listed = test::RunPostvane({"--queue", "--json"}, Env(), dir_);
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  for (const char* field : {"\"file\": \"later.eml\"", "\"state\": \"waiting\"", "\"attempts\": 1",
                            "\"last_error\": \"S: 451 4.2.1"})
    EXPECT_NE(listed.output.find(field), std::string::npos) << field << "\n" << listed.output;

  const test::CommandResult retried = test::RunPostvane({"--retry-now", "--all"}, Env(), dir_);
  EXPECT_EQ(retried.exitCode, 0) << retried.output;
  EXPECT_NE(retried.output.find("'later.eml' due now"), std::string::npos) << retried.output;
  EXPECT_NE(retried.output.find(dir_ + "/run/control: OK"), std::string::npos) << retried.output;
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to, std::chrono::seconds(10)));
  EXPECT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());
  StopSpooler();
}

// POSTVANE_QUEUE_VIA_SERVICE sends the tools through the channel although this user could read
// the directory; the peer is the service's own user (or root), whom the service lets in.
TEST_F(ServiceQueueTest, ToolsWorkThroughTheService) {
  test::Environment env = Env();
  env["POSTVANE_QUEUE_VIA_SERVICE"] = "1";
  const std::string to = Address("ok");
  for (const std::string name : {"gone.eml", "held.eml", "retried.eml"})
    Drop(name, Mail(to, "X-pvx-SendAfter: 2099-01-01T00:00:00\r\n", name));
  StartSpooler();
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir_ + "/run/control"); }));
  const auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> full = {"--service"};
    full.insert(full.end(), args.begin(), args.end());
    return test::RunPostvane(full, env, dir_);
  };

  const test::CommandResult listed = run({"--queue"});
  EXPECT_EQ(listed.exitCode, 0) << listed.output;
  const std::vector<std::string> shown = {"gone.eml ", "retried.eml ", "  waiting  ",
                                          "next 2099-01-01T00:00:00",
                                          "3 mail(s) in " + spoolDir_ + "/\n"};
  for (const std::string& text : shown)
    EXPECT_NE(listed.output.find(text), std::string::npos) << text << "\n" << listed.output;
  const test::CommandResult json = run({"--queue", "--json"});
  EXPECT_NE(json.output.find("\"file\": \"held.eml\",\n    \"size\": "), std::string::npos)
      << json.output;

  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string output;
    std::vector<std::string> spool;  // afterwards
  } steps[] = {
      {{"--hold", "held.eml"}, 0, "'held.eml' held as held.eml.hold\n",
       {"gone.eml", "held.eml.hold", "retried.eml"}},
      {{"--release", spoolDir_ + "/held.eml.hold"}, 0, "'held.eml.hold' released as held.eml\n",
       {"gone.eml", "held.eml", "retried.eml"}},
      {{"--delete", "gone.eml", "missing.eml"}, 1,
       "'gone.eml' deleted\npostvane: 'missing.eml' is not in the spool directory\n",
       {"held.eml", "retried.eml"}},
  };
  for (const auto& step : steps) {
    const test::CommandResult result = run(step.args);
    EXPECT_EQ(result.exitCode, step.exitCode) << step.args[0] << "\n" << result.output;
    EXPECT_EQ(result.output, step.output) << step.args[0];
    EXPECT_EQ(SpoolNames(), step.spool) << step.args[0];
  }

  const test::CommandResult retried = run({"--retry-now", "retried.eml"});
  EXPECT_EQ(retried.exitCode, 0) << retried.output;
  EXPECT_EQ(retried.output.rfind("'retried.eml' due now\n", 0), 0u) << retried.output;
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to, std::chrono::seconds(10)));
  EXPECT_TRUE(WaitUntil([&] { return SpoolNames() == std::vector<std::string>{"held.eml"}; }))
      << ::testing::PrintToString(SpoolNames());
  StopSpooler();

  const test::CommandResult unanswered = run({"--queue"});
  EXPECT_EQ(unanswered.exitCode, 1);
  EXPECT_NE(unanswered.output.find("postvane: the service's spool directory cannot be read and the "
                                   "service does not answer: "),
            std::string::npos)
      << unanswered.output;
}

}  // namespace
}  // namespace pv
