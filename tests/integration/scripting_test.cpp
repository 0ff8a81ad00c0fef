// The scripting library and postvane-spool against the rig: the trace through the rig's DNS,
// and many writers at once into the spool of a running spooler.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "platform/control_channel.h"
#include "scripting/mail_trace.h"
#include "service_fixture.h"

namespace pv {
namespace {

TEST(ScriptTraceTest, AddressesAndMailExchangersThroughTheRigDns) {
  const test::RigEnv rig = test::RigEnv::Load();
  ASSERT_TRUE(rig.ok()) << rig.error();
  struct Case {
    const char* from;
    const char* to;
    bool ok, temporary;
    const char* protocolHolds;
  };
  const Case cases[] = {
      {"s@src.test", "r@a.test", true, false, "MX a.test: 10 mx1.a.test, 20 mx2.a.test"},
      {"s@src.test", "R <r@b.test>", true, false, "OK: b.test takes mail itself (implicit MX)"},
      {"s@src.test", "r@nosuch.test", false, false, "MX nosuch.test: not found (NXDOMAIN)"},
      {"s@src.test", "r@servfail.test", false, true, "MX servfail.test: temporary failure"},
      {"s@src.test", "r@nullmx.test", false, false, "null MX \"0 .\""},
      {"s@src.test", "no-at-sign", false, false, "Failed: Recipient"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    MailTrace trace;
    trace.DNSUrl = rig.Str("RIG_DNS_SERVER");
    trace.timeout = std::chrono::milliseconds(3000);
    EXPECT_EQ(trace.Trace(c.from, c.to), c.ok) << trace.Protocol();
    EXPECT_EQ(trace.FailureTemporary(), c.temporary) << trace.Protocol();
    EXPECT_NE(trace.Protocol().find(c.protocolHolds), std::string::npos) << trace.Protocol();
  }
}

// The probe asks the rig's MX along the spooler's route and never sends DATA: an accepted
// recipient passes, a refused one fails for good, and no mail arrives.
TEST(ScriptTraceTest, AProbeAsksTheServerButSendsNoMail) {
  const test::RigEnv rig = test::RigEnv::Load();
  ASSERT_TRUE(rig.ok()) << rig.error();
  SpoolerSettings settings;
  settings.EffectiveDNSServers = rig.Str("RIG_DNS_SERVER");
  settings.SenderHostName = "client.src.test";
  const std::string marker = "probe" + std::to_string(::getpid());
  for (const auto& [local, accepted] : {std::pair{"ok-", true}, std::pair{"reject-", false}}) {
    const std::string to = local + marker + "@a.test";
    SCOPED_TRACE(to);
    MailTrace trace;
    EXPECT_EQ(trace.Probe("s@src.test", to, settings), accepted) << trace.Protocol();
    EXPECT_FALSE(trace.FailureTemporary()) << trace.Protocol();
    EXPECT_NE(trace.Protocol().find("C: RSET"), std::string::npos) << trace.Protocol();
    EXPECT_EQ(trace.Protocol().find("C: DATA"), std::string::npos) << trace.Protocol();
  }
  for (const auto& mail : test::ListMails(rig.Str("RIG_MX1_MAILDIR")))
    EXPECT_EQ(mail.eml.find(marker), std::string::npos);
}

class ServiceScriptingTest : public ServiceTest {
 protected:
  // Starts argv with stdin from inputPath and stdout+stderr into outputPath.
  pid_t Spawn(const std::vector<std::string>& args, const std::string& inputPath,
              const std::string& outputPath) const {
    test::Environment env = Env();
    env["POSTVANE_MACHINE_REGISTRY"] = dir_ + "/machine-registry.ini";
    return test::SpawnProgram(args, env, outputPath, inputPath);
  }
};

// 200 postvane-spool processes and one sendmail at once, each asking the spooler where to
// write and for a run: every mail is delivered, each exactly once.
TEST_F(ServiceScriptingTest, ConcurrentWritersIntoARunningSpooler) {
  StartSpooler();
  const std::string socket = dir_ + "/run/" + kControlSocketName;
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(socket); }, std::chrono::seconds(10)));
  std::string error;
  EXPECT_EQ(SendControlRequest(socket, "SPOOLDIR", error), spoolDir_ + "/\teml") << error;

  const std::string body = dir_ + "/body.txt", mail = dir_ + "/mail.txt";
  WriteAtomically(body, "Hello.\n");
  const std::string sendmailSubject = marker_ + "-sendmail";
  WriteAtomically(
      mail, "From: s@src.test\nTo: " + Address("ok") + "\nSubject: " + sendmailSubject + "\n\nHi\n");
  const std::string sendmail = dir_ + "/sendmail";
  fs::create_symlink(POSTVANE_SPOOL_BINARY, sendmail);

  constexpr int kWriters = 200;
  std::map<pid_t, std::string> outputs;
  std::set<std::string> subjects{sendmailSubject};
  for (int i = 0; i <= kWriters; ++i) {
    const std::string output = dir_ + "/out" + std::to_string(i);
    const std::string subject = marker_ + "-" + std::to_string(i);
    const pid_t pid =
        i == kWriters
            ? Spawn({sendmail, "-i", Address("ok")}, mail, output)
            : Spawn({POSTVANE_SPOOL_BINARY, "mail", "--subject", subject, "--from", "s@src.test",
                     "--to", Address("ok")},
                    body, output);
    ASSERT_GT(pid, 0);
    outputs[pid] = output;
    if (i < kWriters) subjects.insert(subject);
  }
  for (const auto& [pid, output] : outputs) {
    const std::optional<int> code = test::WaitForExit(pid, std::chrono::seconds(60));
    EXPECT_EQ(code, std::optional<int>(0)) << test::ReadWholeFile(output);
    if (!code) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  const std::string firstOutput = test::ReadWholeFile(outputs.begin()->second);
  EXPECT_EQ(firstOutput.rfind(spoolDir_ + "/", 0), 0u) << firstOutput;

  std::map<std::string, int> delivered;
  const std::regex subjectLine("Subject: (\\S+)");
  const auto count = [&] {
    delivered.clear();
    for (const ReceivedMail& received : MailsTo("RIG_MX1_MAILDIR", Address("ok"))) {
      std::smatch found;
      if (std::regex_search(received.eml, found, subjectLine)) ++delivered[found[1].str()];
    }
    return delivered.size() == subjects.size() && SpoolEmpty();
  };
  EXPECT_TRUE(WaitUntil(count, std::chrono::seconds(90))) << delivered.size() << " delivered";
  for (const std::string& subject : subjects) EXPECT_EQ(delivered[subject], 1) << subject;
  EXPECT_EQ(delivered.size(), subjects.size());
}

}  // namespace
}  // namespace pv
