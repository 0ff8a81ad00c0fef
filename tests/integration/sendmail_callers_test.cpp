// The programs that call `sendmail`, each as it really does (arguments and the mail as it
// writes it, LF lines), into a running `postvane service=1`: every recipient gets the mail
// once, from the right sender, and no Bcc line goes on the wire.
#include <fcntl.h>
#include <spawn.h>

#include "service_fixture.h"

// Built with the front end's program (POSTVANE_SPOOL_BINARY).
#ifdef POSTVANE_SPOOL_BINARY

namespace pv {
namespace {

// Runs the front end under the name "sendmail" with input on stdin; its exit code (-1 when
// it did not end in time) and its output.
test::CommandResult RunSendmail(const std::string& dir, const std::vector<std::string>& args,
                                const test::Environment& env, const std::string& input) {
  const std::string link = dir + "/sendmail";
  fs::remove(link);
  fs::create_symlink(POSTVANE_SPOOL_BINARY, link);
  ServiceTest::WriteAtomically(dir + "/sendmail.in", input);
  const std::string outputPath = dir + "/sendmail.out";
  std::vector<std::string> argStrings{link};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings{"PATH=/usr/bin:/bin", "USER=cronjob", "LOGNAME=cronjob"};
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& s : argStrings) argv.push_back(s.data());
  for (std::string& s : envStrings) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (dir + "/sendmail.in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  test::CommandResult result;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    const auto code = test::WaitForExit(pid, std::chrono::seconds(10));
    if (!code) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    result.exitCode = code.value_or(-1);
  }
  posix_spawn_file_actions_destroy(&actions);
  result.output = test::ReadWholeFile(outputPath);
  return result;
}

using SendmailCallersTest = ServiceTest;

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
       {a("php1"), a("php2")}, "", "cronjob@client.src.test"},
      // Debian's cron: a bare "root", mapped through LocalRecipientsTo.
      {"cron", {"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "root"},
       "From: root (Cron Daemon)\nTo: root\nSubject: Cron <root@host> job\nMIME-Version: 1.0\n"
       "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\nGr\xc3\xbc\xc3\x9f" "e\n",
       {a("cron")}, "", "root@client.src.test"},
      // mail(1): every recipient as an argument, Bcc only there.
      {"mailx", {"-i", "--", a("mailx1"), a("mailx2")},
       "To: " + a("mailx1") + "\nSubject: mailx\n\nbody\n",
       {a("mailx1"), a("mailx2")}, "", "cronjob@client.src.test"},
      // git send-email: the envelope sender and the recipients as arguments; a Cc of the
      // header that git left out of the envelope is not sent to.
      {"git", {"-i", "-f", "dev@src.test", a("git1"), a("git2")},
       "From: Dev <dev@src.test>\nTo: " + a("git1") + "\nCc: " + a("gitcc") +
           "\nSubject: [PATCH] fix\nMessage-Id: <1.git@src.test>\nMIME-Version: 1.0\n\ndiff\n",
       {a("git1"), a("git2")}, a("gitcc"), "dev@src.test"},
  };
  StartSpooler({{"LocalRecipientsTo", a("cron")}});
  for (const Caller& caller : callers) {
    const test::CommandResult run = RunSendmail(dir_, caller.args, Env(), caller.mail);
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
    if (!caller.notReceiver.empty()) EXPECT_EQ(RcptCommandsFor("RIG_MX1_TRANSCRIPT", caller.notReceiver), 0u);
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

#endif  // POSTVANE_SPOOL_BINARY
