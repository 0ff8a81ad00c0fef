#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/spool_file.h"
#include "scripting/sendmail/sendmail_args.h"
#include "scripting/sendmail/sendmail_message.h"
#include "scripting/sendmail/sendmail_submission.h"
#include "support/text.h"
#include "transport/recipients.h"
#include "transport/wire_data.h"

namespace pv {
namespace {

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 12, 7, 10, 0, 0);

SendmailContext Context(std::string localRecipientsTo = "", std::string email = "") {
  return {"alice", std::move(email), "host.test", std::move(localRecipientsTo), kNow, 60};
}

Submission Prepare(const std::vector<std::string>& args, const std::string& mail,
                   const SendmailContext& context = Context()) {
  const SendmailArgsResult parsed = ParseSendmailArgs(args);
  EXPECT_TRUE(parsed.ok()) << parsed.error;
  std::istringstream in(mail);
  const SendmailInput input = ReadSendmailMessage(in, parsed.options.dotIsData);
  EXPECT_TRUE(input.ok()) << input.error;
  return PrepareSubmission(input.message, parsed.options, context);
}

// The spool file as the spool engine reads it.
SpoolFile Engine(const std::string& text) {
  SpoolFile f;
  ParseSpoolText(text, kNow, f);
  return f;
}

// The header block that goes after DATA.
std::string WireHeaders(const SpoolFile& f) {
  const std::string bytes = PrepareWireData(MailTextOf(f)).bytes;
  return bytes.substr(0, bytes.find("\r\n\r\n"));
}

struct EnvelopeCase {
  std::string name;
  std::vector<std::string> args;
  std::string mail;
  std::string localRecipientsTo;
  std::string due;     // the engine's recipients
  std::string served;  // X-pvx-SuccessAddresses as the engine reads it
  std::string hidden;  // an address that must not be in the sent header; "" for none
};

// The four usual callers (PHP, cron, mail(1), git): tests/integration/sendmail_callers_test.cpp.
TEST(SendmailSubmission, EnvelopeAsTheEngineReadsIt) {
  const std::string head = "From: me@x.test\nSubject: s\n";
  const std::vector<EnvelopeCase> cases = {
      {"-t: arguments are added, as hidden copies", {"-t", "d@y.test", "a@x.test"},
       head + "To: a@x.test\n\nbody\n", "", "a@x.test, d@y.test", "", "d@y.test"},
      {"-t: only Bcc", {"-t"}, head + "Bcc: c@x.test\n\nbody\n", "", "c@x.test",
       "undisclosed-recipients:;", "c@x.test"},
      {"arguments pick from the header", {"-i", "--", "a@x.test"},
       head + "To: a@x.test, b@x.test\nCc: c@x.test\nBcc: d@x.test\n\nbody\n", "", "a@x.test",
       "b@x.test, c@x.test, d@x.test", "d@x.test"},
      {"compared by address", {"J@X.TEST"},
       head + "To: \"Doe, John\" <J@x.test>\n\nbody\n", "", "\"Doe, John\" <J@x.test>", "", ""},
      {"no To: undisclosed, served", {"a@x.test"}, head + "\nbody\n", "", "a@x.test",
       "undisclosed-recipients:;", "a@x.test"},
      {"cron: a bare name at SenderHostName", {"root"}, head + "To: Root <root>\n\nbody\n", "",
       "Root <root@host.test>", "", ""},
      {"an invalid header item is skipped", {"a@x.test"}, head + "To: a@x.test, bad@\n\nbody\n",
       "", "a@x.test", "bad@", ""},
  };
  for (const EnvelopeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Submission s = Prepare(c.args, c.mail, Context(c.localRecipientsTo));
    ASSERT_TRUE(s.ok()) << s.error;
    const SpoolFile f = Engine(s.text);
    EXPECT_EQ(RecipientsOf(f), c.due);
    EXPECT_EQ(f.SuccessAddresses, c.served);
    EXPECT_FALSE(f.To.empty());
    const std::string wire = WireHeaders(f);
    EXPECT_EQ(FindNoCase(wire, "bcc:"), std::string::npos) << wire;
    if (!c.hidden.empty()) {
      EXPECT_EQ(wire.find(" " + c.hidden), std::string::npos) << wire;
      EXPECT_EQ(wire.find("<" + c.hidden), std::string::npos) << wire;
    }
  }
}

struct EnvelopeErrorCase {
  std::vector<std::string> args;
  std::string mail;
  std::string error;
  bool usage;
};

TEST(SendmailSubmission, EnvelopeErrors) {
  const std::vector<EnvelopeErrorCase> cases = {
      {{}, "To: a@x.test\n\nb\n", "no recipients: name them as arguments, or use -t", true},
      {{"-t"}, "Subject: s\n\nb\n", "no recipients: the header names none", false},
      {{"a@"}, "To: a@x.test\n\nb\n", "recipient \"a@\": invalid address: empty domain", true},
      {{"-t"}, "To: a@x.test, x@\n\nb\n", "recipient \"x@\" in the header: invalid address",
       false},
      {{"-f", "a b@x.test", "a@x.test"}, "\nb\n", "-f a b@x.test: invalid address", true},
  };
  for (const EnvelopeErrorCase& c : cases) {
    SCOPED_TRACE(c.mail);
    const Submission s = Prepare(c.args, c.mail);
    EXPECT_NE(s.error.find(c.error), std::string::npos) << s.error;
    EXPECT_EQ(s.usageError, c.usage);
    EXPECT_TRUE(s.text.empty());
  }
  SendmailContext noHost = Context();
  noHost.senderHostName = "";
  EXPECT_NE(Prepare({"root"}, "To: root\n\nb\n", noHost).error.find("SenderHostName is empty"),
            std::string::npos);
}

std::string HeaderBlock(const std::string& text) { return text.substr(0, text.find("\r\n\r\n")); }

struct FixUpCase {
  std::string name;
  std::vector<std::string> args;
  std::string email;  // $EMAIL
  std::string mail;
  std::vector<std::string> lines;  // header lines the spool file must hold
  std::string from, subject;       // as the engine decodes them
};

TEST(SendmailSubmission, FixUps) {
  const std::string to = "To: a@x.test\n";
  const std::vector<FixUpCase> cases = {
      {"From from the user and SenderHostName", {"-t"}, "", to + "\nb\n",
       {"From: alice@host.test", "Subject: (no subject)", "MIME-Version: 1.0"},
       "alice@host.test", "(no subject)"},
      {"From from -F and the user", {"-FCronDaemon", "-t"}, "", to + "\nb\n",
       {"From: CronDaemon <alice@host.test>"}, "CronDaemon <alice@host.test>", "(no subject)"},
      {"From from -f and -F; -f is the return address",
       {"-f", "me@x.test", "-F", "Doe, John", "-t"}, "Eve <eve@x.test>", to + "\nb\n",
       {"From: \"Doe, John\" <me@x.test>", "X-pvx-ReturnTo: me@x.test"},
       "\"Doe, John\" <me@x.test>", "(no subject)"},
      {"the mail's From wins, its bare name qualified", {"-t", "-F", "X", "-f", "root"}, "",
       "From: root (Cron Daemon)\n" + to + "\nb\n",
       {"From: root@host.test (Cron Daemon)", "X-pvx-ReturnTo: root@host.test"},
       "root@host.test (Cron Daemon)", "(no subject)"},
      {"8-bit display names in address lists are encoded", {"-t"}, "",
       "To: J\xC3\xBCrgen <j@x.test>, b@x.test\nFrom: \"M\xC3\xBCller, A\" <m@x.test>\n\nb\n",
       {"To: =?utf-8?B?SsO8cmdlbg==?= <j@x.test>, b@x.test",
        "From: \"=?utf-8?B?TcO8bGxlciwgQQ==?=\" <m@x.test>"},
       "\"Müller, A\" <m@x.test>", "(no subject)"},
      {"an 8-bit subject is encoded, an empty one replaced", {"-t"}, "",
       to + "Subject: Gr\xC3\xBC\xC3\x9F" "e\n\nb\n", {"Subject: =?utf-8?B?R3LDvMOfZQ==?="}, "",
       "Grüße"},
      {"a continuation with a colon is unfolded", {"-t"}, "",
       to + "Subject: meet\n at 10:00\nX-List: a,\n b\n\nb\n",
       {"Subject: meet at 10:00", "X-List: a,\r\n b"}, "", "meet at 10:00"},
      {"the spooler's own marks are dropped, send-after kept", {"-t"}, "",
       to + "Subject: s\nX-pvx-SuccessAddresses: a@x.test\nX-pvx-IsErrorMime: 1\n"
       "X-pvx-SendAfter: 2026-12-24T10:00:00\nX-pvx-ReturnTo: r@x.test\n\nb\n",
       {"X-pvx-SendAfter: 2026-12-24T10:00:00", "X-pvx-ReturnTo: r@x.test"}, "", "s"},
      {"an 8-bit body is labelled", {"-t"}, "", to + "Subject: s\n\nGr\xC3\xBC\xC3\x9F" "e\n",
       {"Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: 8bit"}, "", "s"},
  };
  for (const FixUpCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Submission s = Prepare(c.args, c.mail, Context("", c.email));
    ASSERT_TRUE(s.ok()) << s.error;
    const std::string block = HeaderBlock(s.text);
    for (const std::string& line : c.lines)
      EXPECT_NE(("\r\n" + block + "\r\n").find("\r\n" + line + "\r\n"), std::string::npos)
          << line << "\n" << block;
    for (char ch : block) EXPECT_LT(static_cast<unsigned char>(ch), 0x80) << block;
    const SpoolFile f = Engine(s.text);
    if (!c.from.empty()) {
      EXPECT_EQ(f.From, c.from);
    }
    EXPECT_EQ(f.Subject, c.subject);
    EXPECT_FALSE(ExtractMailbox(f.From).empty()) << f.From;  // the sender the transport uses
    EXPECT_FALSE(f.MimeVersion.empty());
    EXPECT_TRUE(f.HasDate);
    EXPECT_TRUE(f.HasMessageId);
  }
}

TEST(SendmailSubmission, OneOfEachAddedHeaderAndTheBodyAsItCame) {
  const Submission s = Prepare({"-i", "a@x.test"}, "Subject: s\n\nline\n.\n\xC3\xA4\n");
  ASSERT_TRUE(s.ok()) << s.error;
  EXPECT_EQ(s.text.substr(s.text.find("\r\n\r\n")), "\r\n\r\nline\r\n.\r\n\xC3\xA4\r\n");
  const std::string block = HeaderBlock(s.text);
  EXPECT_NE(block.find("Date: Mon, 07 Dec 2026 10:00:00 +0100"), std::string::npos);
  EXPECT_NE(block.find("Message-ID: <"), std::string::npos);
  EXPECT_NE(block.find("@host.test>"), std::string::npos);
  for (const char* name : {"\nFrom:", "\nTo:", "\nBcc:", "\nSubject:", "\nDate:", "\nMIME-Version:"})
    EXPECT_EQ(("\n" + block).find(name), ("\n" + block).rfind(name)) << name;
}

struct FixUpErrorCase {
  std::string mail;
  std::string error;
};

TEST(SendmailSubmission, FixUpErrors) {
  const std::vector<FixUpErrorCase> cases = {
      {"To: a@x.test\nSubject: a\x01" "b\n\nb\n", "header \"Subject\" holds a control character"},
      {"To: a@x.test\nContent-Type: text/plain; name=\xC3\xA4\n\nb\n",
       "header \"Content-Type\" holds 8-bit characters"},
      {"To: a@x.test\nFrom: nobody@\n\nb\n", "holds no valid address"},
      {"To: J\xC3\xBCrgen@x.test\n\nb\n", "addresses must be ASCII"},
  };
  for (const FixUpErrorCase& c : cases) {
    SCOPED_TRACE(c.mail);
    const Submission s = Prepare({"-t"}, c.mail);
    EXPECT_NE(s.error.find(c.error), std::string::npos) << s.error;
    EXPECT_FALSE(s.usageError);
    EXPECT_TRUE(s.text.empty());
  }
}

}  // namespace
}  // namespace pv
