// The queue tools against the real `postvane service=1`: a mail deferred by the rig's server
// is listed with its attempt and the server's reply, held and released unchanged, and sent at
// once by --retry-now although its next attempt is an hour away.
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

  const std::string rescheduled = SpoolText("later.eml");
  EXPECT_EQ(test::RunPostvane({"--hold", "later.eml"}, Env(), dir_).exitCode, 0);
  EXPECT_EQ(SpoolNames(), std::vector<std::string>{"later.eml.hold"});
  EXPECT_EQ(test::RunPostvane({"--retry-now", "later.eml.hold"}, Env(), dir_).exitCode, 1);
  EXPECT_EQ(test::RunPostvane({"--release", spoolDir_ + "/later.eml.hold"}, Env(), dir_).exitCode, 0);
  EXPECT_EQ(SpoolText("later.eml"), rescheduled);

  const test::CommandResult retried = test::RunPostvane({"--retry-now", "--all"}, Env(), dir_);
  EXPECT_EQ(retried.exitCode, 0) << retried.output;
  EXPECT_NE(retried.output.find("'later.eml' due now"), std::string::npos) << retried.output;
  EXPECT_NE(retried.output.find(dir_ + "/run/control: OK"), std::string::npos) << retried.output;
  EXPECT_TRUE(WaitForMailTo("RIG_MX1_MAILDIR", to, std::chrono::seconds(10)));
  EXPECT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());
  StopSpooler();
}

}  // namespace
}  // namespace pv
