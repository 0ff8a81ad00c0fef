// The programs that call `sendmail`, each as it really does (arguments and the mail as it
// writes it, LF lines), into a running `postvane service=1`: every recipient gets the mail
// once, from the right sender, and no Bcc line goes on the wire.
#include "service_fixture.h"

namespace pv {
namespace {

class SendmailCallersTest : public ServiceTest {
 protected:
  // Runs the front end under the name "sendmail" with input on stdin.
  test::CommandResult RunSendmail(const std::vector<std::string>& args, const std::string& input) {
    const std::string link = dir_ + "/sendmail";
    if (!fs::exists(link)) fs::create_symlink(POSTVANE_SPOOL_BINARY, link);
    WriteAtomically(dir_ + "/sendmail.in", input);
    const std::string output = dir_ + "/sendmail.out";
    ::unlink(output.c_str());
    std::vector<std::string> argv{link};
    argv.insert(argv.end(), args.begin(), args.end());
    const test::Environment env = Env();
    test::CommandResult result;
    const pid_t pid = test::SpawnProgram(argv, env, output, dir_ + "/sendmail.in");
    if (const auto code = pid > 0 ? test::WaitForExit(pid, std::chrono::seconds(10)) : std::nullopt)
      result.exitCode = *code;
    else if (pid > 0)
      ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    result.output = test::ReadWholeFile(output);
    return result;
  }
};


TEST_F(SendmailCallersTest, EachCallerIsDeliveredWithItsEnvelope) {
  const auto a = [&](const std::string& who) { return Address(who); };
  struct Caller {
    std::string name;
    std::vector<std::string> args;
    std::string mail;                    // as the program writes it
    std::vector<std::string> receivers;  // each gets the mail once
    std::string notReceiver;             // named in the header, not in the envelope
    std::string mailFrom;
  };
  const std::vector<Caller> callers = {
      // PHP's mail(): recipients from the header, Bcc among them; no From of its own.
      {"php", {"-t", "-i"},
       "To: " + a("php1") + "\nBcc: " + a("php2") + "\nSubject: php\nX-PHP-Originating-Script: 0:x.php\n\n"
       "line\n.\nafter the dot\n",
       {a("php1"), a("php2")}, "", "root@client.src.test"},
      // Debian's cron: a bare "root", mapped through LocalRecipientsTo.
      {"cron", {"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "root"},
       "From: root (Cron Daemon)\nTo: root\nSubject: Cron <root@host> job\nMIME-Version: 1.0\n"
       "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\nGr\xc3\xbc\xc3\x9f" "e\n",
       {a("cron")}, "", "root@client.src.test"},
      // mail(1): every recipient as an argument, Bcc only there.
      {"mailx", {"-i", "--", a("mailx1"), a("mailx2")},
       "To: " + a("mailx1") + "\nSubject: mailx\n\nbody\n",
       {a("mailx1"), a("mailx2")}, "", "root@client.src.test"},
      // git send-email: the envelope sender and the recipients as arguments; a Cc of the
      // header that git left out of the envelope is not sent to.
      {"git", {"-i", "-f", "dev@src.test", a("git1"), a("git2")},
       "From: Dev <dev@src.test>\nTo: " + a("git1") + "\nCc: " + a("gitcc") +
           "\nSubject: [PATCH] fix\nMessage-Id: <1.git@src.test>\nMIME-Version: 1.0\n\ndiff\n",
       {a("git1"), a("git2")}, a("gitcc"), "dev@src.test"},
  };
  StartSpooler({{"LocalRecipientsTo", a("cron")}});
  for (const Caller& caller : callers) {
    const test::CommandResult run = RunSendmail(caller.args, caller.mail);
    EXPECT_EQ(run.exitCode, 0) << caller.name << ": " << run.output;
  }
  for (const Caller& caller : callers) {
    SCOPED_TRACE(caller.name);
    for (const std::string& receiver : caller.receivers) {
      const auto mail = WaitForMailTo("RIG_MX1_MAILDIR", receiver);
      ASSERT_TRUE(mail) << receiver;
      EXPECT_EQ(mail->Str("mail_from"), caller.mailFrom);
      EXPECT_EQ(mail->eml.find("\nBcc:"), std::string::npos) << mail->eml;
      EXPECT_EQ(mail->eml.find("X-pvx-"), std::string::npos) << mail->eml;
    }
    if (!caller.notReceiver.empty()) {
      EXPECT_EQ(RcptCommandsFor("RIG_MX1_TRANSCRIPT", caller.notReceiver), 0u);
    }
  }
  EXPECT_TRUE(WaitUntil([&] { return SpoolEmpty(); })) << ::testing::PrintToString(SpoolNames());
  for (const Caller& caller : callers)
    for (const std::string& receiver : caller.receivers)
      EXPECT_EQ(MailsTo("RIG_MX1_MAILDIR", receiver).size(), 1u) << receiver;
  // The dot line of PHP's mail stayed in it (-i).
  const auto php = MailsTo("RIG_MX1_MAILDIR", a("php1"));
  ASSERT_FALSE(php.empty());
  EXPECT_NE(php.front().eml.find("\r\n.\r\nafter the dot"), std::string::npos) << php.front().eml;
  StopSpooler();
}

}  // namespace
}  // namespace pv
