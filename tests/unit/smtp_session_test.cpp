#include "transport/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace pv {
namespace {

using namespace std::chrono_literals;

// A dialogue is written as its transcript:
//   "S: ..."   a line the server sends (it goes through SmtpReplyReader)
//   "C: ..."   a line the client writes, the first of one write
//   "C+ ..."   a further line of the same write (a pipelined batch, the message data)
//   "> ..."    an event from the driver: "> mail", "> quit", "> tls ok", "> tls failed",
//              "> timeout", "> lost"
//   "< ..."    what the session asks of the driver besides writing: "< ready", "< starttls",
//              "< close"
//   "! ..."    the reader found a malformed reply (the session gets OnProtocolError)
// The test plays the S and > lines and records everything; the record must equal the script.
using Script = std::vector<std::string>;

Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Lines(const Script& script) {
  std::string text;
  for (const std::string& line : script) text += line + "\n";
  return text;
}

// Greeting and EHLO with these keywords; the session ends up ready unless `ready` is false.
Script Opening(const std::vector<std::string>& keywords, bool ready = true) {
  Script script = {"S: 220 mx.example ESMTP", "C: EHLO client.example"};
  script.push_back(keywords.empty() ? "S: 250 mx.example" : "S: 250-mx.example");
  for (std::size_t i = 0; i < keywords.size(); ++i)
    script.push_back((i + 1 < keywords.size() ? "S: 250-" : "S: 250 ") + keywords[i]);
  if (ready) script.push_back("< ready");
  return script;
}

SmtpSessionOptions Options(TlsMode tls, std::string user = "", std::string password = "") {
  return {"client.example", tls, std::move(user), std::move(password), 300s, 600s};
}

// A mail given as text; its wire bytes as the transport prepares them.
struct TestMail {
  std::string reversePath;
  std::vector<std::string> recipients;
  std::string text;
  std::string noSevenBit = {};
  bool probe = false;

  SmtpMail Prepared() const {
    WireData wire = PrepareWireData(text);
    return {reversePath, recipients, std::make_shared<const std::string>(std::move(wire.bytes)),
            wire.eightBit, noSevenBit, probe};
  }
};

const char* OutcomeName(RecipientOutcome outcome) {
  static const char* const kNames[] = {"Pending", "Served", "Temporary", "Permanent"};
  return kNames[static_cast<int>(outcome)];
}

class Dialogue {
 public:
  explicit Dialogue(SmtpSessionOptions options, std::vector<TestMail> mails = {})
      : session(std::move(options), transcript), mails_(std::move(mails)) {}

  // Plays the server lines and driver events of `script`; returns the dialogue as it went.
  std::string Play(const Script& script) {
    played_.clear();
    for (const std::string& line : script) {
      if (line.starts_with("S: ")) {
        played_.push_back(line);
        reader_.Feed(line.substr(3) + "\r\n");
        Drain();
      } else if (line.starts_with("> ")) {
        played_.push_back(line);
        Take(Event(line.substr(2)));
      }
    }
    return Lines(played_);
  }

  // "address Outcome reply" per recipient of the last mail.
  std::string Outcomes() const {
    std::string text;
    for (const SmtpRecipientResult& r : session.recipients())
      text += r.address + " " + OutcomeName(r.outcome) + " " + r.reply + "\n";
    return text;
  }

  Transcript transcript;
  SmtpSession session;

 private:
  SmtpSession::Action Event(const std::string& event) {
    if (event == "mail") return session.StartMail(mails_.at(nextMail_++).Prepared());
    if (event == "quit") return session.Quit();
    if (event == "tls ok") return session.OnTlsEstablished("TLSv1.3 TLS_AES_256_GCM_SHA384");
    if (event == "tls failed") return session.OnTlsFailed("handshake failure");
    if (event == "timeout") return session.OnTimeout();
    if (event == "lost") return session.OnConnectionLost("connection reset by peer");
    ADD_FAILURE() << "unknown event " << event;
    return {};
  }

  void Drain() {
    SmtpReply reply;
    std::string error;
    for (;;) {
      const auto status = reader_.Next(reply, error);
      if (status == SmtpReplyReader::Status::NeedMore) return;
      if (status == SmtpReplyReader::Status::Error) {
        played_.push_back("! " + error);
        Take(session.OnProtocolError(error));
        return;
      }
      if (last_ != SmtpSession::ActionKind::Send) played_.push_back("! reply while not reading");
      Take(session.OnReply(reply));
    }
  }

  void Take(const SmtpSession::Action& action) {
    static const char* const kActions[] = {"", "< starttls", "< ready", "< close"};
    last_ = action.kind;
    if (action.kind != SmtpSession::ActionKind::Send)
      return played_.push_back(kActions[static_cast<int>(action.kind)]);
    const std::string bytes = action.bytes + (action.data ? *action.data : std::string());
    if (!bytes.empty() && !bytes.ends_with("\r\n")) played_.push_back("! unterminated write");
    const char* prefix = "C: ";
    for (std::size_t pos = 0; pos < bytes.size(); prefix = "C+ ") {
      const std::size_t end = std::min(bytes.find("\r\n", pos), bytes.size());
      played_.push_back(prefix + bytes.substr(pos, end - pos));
      pos = end + 2;
    }
  }

  SmtpReplyReader reader_;
  std::vector<TestMail> mails_;
  std::size_t nextMail_ = 0;
  SmtpSession::ActionKind last_ = SmtpSession::ActionKind::Send;
  Script played_;
};

bool Contains(const Transcript& transcript, const std::string& text) {
  return transcript.text().find(text) != std::string::npos;
}

struct FailureCase {
  const char* name;
  Script script;
  SessionFailure failure;
  std::string text;
};

TEST(SmtpSession, EndsWhenTheServerTakesNoMail) {
  const Script ehlo = {"S: 220 mx", "C: EHLO client.example"};
  const Script quit = {"C: QUIT", "S: 221 Bye", "< close"};
  const std::vector<FailureCase> cases = {
      {"greeting 554", Script{"S: 554 5.7.1 No service"} + quit, SessionFailure::Rejected,
       "554 5.7.1 No service"},
      {"greeting 421", {"S: 421 4.3.2 Shutting down", "< close"}, SessionFailure::Rejected,
       "421 4.3.2 Shutting down"},
      {"no greeting", {"> timeout", "< close"}, SessionFailure::Timeout,
       "timed out after 300 s waiting for the greeting"},
      {"HELO refused",
       ehlo + Script{"S: 500 Unknown command", "C: HELO client.example", "S: 550 Go away"} + quit,
       SessionFailure::Rejected, "550 Go away"},
      {"QUIT unanswered",
       Script{"S: 554 No", "C: QUIT", "> timeout", "< close"}, SessionFailure::Rejected, "554 No"},
      {"EHLO unanswered", ehlo + Script{"> timeout", "< close"}, SessionFailure::Timeout,
       "timed out after 300 s waiting for the reply to EHLO"},
      {"garbage",
       ehlo + Script{"S: HTTP/1.1 400 Bad Request",
                     "! malformed reply line \"HTTP/1.1 400 Bad Request\"", "< close"},
       SessionFailure::Protocol, "malformed reply line \"HTTP/1.1 400 Bad Request\""},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dialogue d(Options(TlsMode::Opportunistic), {{"s@example.org", {"a@example.net"}, "x"}});
    EXPECT_EQ(d.Play(c.script), Lines(c.script));
    EXPECT_EQ(d.session.failure(), c.failure);
    EXPECT_EQ(d.session.failureText(), c.text);
    EXPECT_FALSE(d.session.ready());
    EXPECT_TRUE(d.session.over());
    // A later mail cannot go: its recipients stay temporary, nothing is written.
    EXPECT_EQ(d.Play({"> mail"}), "> mail\n< close\n");
    EXPECT_EQ(d.Outcomes(), "a@example.net Temporary " + c.text + "\n");
  }
}

TEST(SmtpSession, FallsBackToHeloAndSendsOneCommandPerWrite) {
  const TestMail mail{"s@example.org", {"a@example.net", "b@example.net"}, "x"};
  Dialogue d(Options(TlsMode::Opportunistic), {mail, mail});
  const Script script = {
      "S: 220 mx",
      "C: EHLO client.example", "S: 502 5.5.2 Command not recognized",
      "C: HELO client.example", "S: 250 mx.example",
      "< ready",
      "> mail",
      // MAIL refused: no RCPT goes out; every recipient ends with that reply.
      "C: MAIL FROM:<s@example.org>", "S: 550 5.7.1 Sender rejected",
      "< ready",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  EXPECT_EQ(d.Outcomes(),
            "a@example.net Permanent 550 5.7.1 Sender rejected\n"
            "b@example.net Permanent 550 5.7.1 Sender rejected\n");
  const Script second = {
      "> mail",
      "C: RSET", "S: 250 Ok",
      "C: MAIL FROM:<s@example.org>", "S: 250 Ok",
      "C: RCPT TO:<a@example.net>", "S: 250 Ok",
      "C: RCPT TO:<b@example.net>",
  };
  EXPECT_EQ(d.Play(second), Lines(second));
  EXPECT_TRUE(Contains(d.transcript, "* EHLO refused, falling back to HELO"));
}

TEST(SmtpSession, AProbeAsksTheRecipientsAndSendsNoData) {
  const TestMail probe{"s@example.org", {"a@example.net", "b@example.net"}, "x", {}, true};
  Dialogue d(Options(TlsMode::Off), {probe});
  const Script script = Opening({"SIZE 1000"}) + Script{
      "> mail",
      "C: MAIL FROM:<s@example.org>", "S: 250 Ok",
      "C: RCPT TO:<a@example.net>", "S: 250 2.1.5 Ok",
      "C: RCPT TO:<b@example.net>", "S: 550 5.1.1 No such user",
      "C: RSET", "S: 250 Ok",
      "< ready",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  EXPECT_EQ(d.Outcomes(),
            "a@example.net Served 250 2.1.5 Ok\n"
            "b@example.net Permanent 550 5.1.1 No such user\n");
}

struct TlsCase {
  const char* name;
  TlsMode mode;
  Script script;
  SessionFailure failure;
  bool tlsActive;
  bool plainRetry;
};

TEST(SmtpSession, StartTlsByMode) {
  const Script offered = Opening({"SIZE 1000", "STARTTLS"}, false);
  const Script quit = {"C: QUIT", "S: 221 Bye", "< close"};
  const Script go = {"C: STARTTLS", "S: 220 2.0.0 Ready to start TLS", "< starttls"};
  const std::vector<TlsCase> cases = {
      {"opportunistic, refused", TlsMode::Opportunistic,
       offered + Script{"C: STARTTLS", "S: 454 4.7.0 TLS not available", "< ready"},
       SessionFailure::None, false, false},
      {"required, refused", TlsMode::Required,
       offered + Script{"C: STARTTLS", "S: 454 4.7.0 TLS not available"} + quit,
       SessionFailure::Tls, false, false},
      {"opportunistic, handshake fails", TlsMode::Opportunistic,
       offered + go + Script{"> tls failed", "< close"}, SessionFailure::Tls, false, true},
      {"required, handshake fails", TlsMode::Required,
       offered + go + Script{"> tls failed", "< close"}, SessionFailure::Tls, false, false},
      {"STARTTLS answered 421", TlsMode::Opportunistic,
       offered + Script{"C: STARTTLS", "S: 421 4.3.0 Closing", "< close"},
       SessionFailure::Rejected, false, false},
      {"off", TlsMode::Off, offered + Script{"< ready"}, SessionFailure::None, false, false},
  };
  for (const TlsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dialogue d(Options(c.mode));
    EXPECT_EQ(d.Play(c.script), Lines(c.script));
    EXPECT_EQ(d.session.failure(), c.failure);
    EXPECT_EQ(d.session.tlsActive(), c.tlsActive);
    EXPECT_EQ(d.session.plainRetryAdvised(), c.plainRetry);
  }
}

TEST(SmtpSession, AuthAfterStartTlsWithTheSecretsMasked) {
  Dialogue d(Options(TlsMode::Opportunistic, "user", "secret"));
  const Script script = Opening({"SIZE 1000", "STARTTLS"}, false) + Script{
      "C: STARTTLS", "S: 220 Go ahead",
      "< starttls", "> tls ok",
      "C: EHLO client.example",
      "S: 250-mx.example",
      "S: 250-STARTTLS",  // some servers offer it again: TLS is up, so it is not taken
      "S: 250 AUTH=LOGIN",
      "C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6",
      "C: dXNlcg==", "S: 334 UGFzc3dvcmQ6",
      "C: c2VjcmV0", "S: 235 2.7.0 Authentication successful",
      "< ready",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  // The capabilities are those of the EHLO after TLS.
  EXPECT_FALSE(d.session.capabilities().size);
  EXPECT_TRUE(d.session.tlsActive());
  EXPECT_TRUE(Contains(d.transcript, "C: AUTH LOGIN\r\nS: 334 VXNlcm5hbWU6\r\nC: ****\r\n"
                                     "S: 334 UGFzc3dvcmQ6\r\nC: ****\r\n"));
  EXPECT_FALSE(Contains(d.transcript, "dXNlcg=="));
  EXPECT_FALSE(Contains(d.transcript, "c2VjcmV0"));
}

TEST(SmtpSession, AuthFailures) {
  const Script quit = {"C: QUIT", "S: 221 Bye", "< close"};
  struct AuthCase {
    const char* name;
    TlsMode mode;
    Script script;
    std::string text;
  };
  const std::vector<AuthCase> cases = {
      {"LOGIN password refused", TlsMode::Implicit,
       Opening({"AUTH LOGIN"}, false) +
           Script{"C: AUTH LOGIN", "S: 334 VXNlcm5hbWU6", "C: dXNlcg==", "S: 334 UGFzc3dvcmQ6",
                  "C: c2VjcmV0", "S: 535 5.7.8 No"} +
           quit,
       "535 5.7.8 No"},
      {"no TLS", TlsMode::Off, Opening({"AUTH PLAIN"}, false) + quit,
       "authentication needs TLS"},
      {"STARTTLS refused", TlsMode::Opportunistic,
       Opening({"STARTTLS", "AUTH PLAIN"}, false) + Script{"C: STARTTLS", "S: 454 No"} + quit,
       "authentication needs TLS"},
      {"no known mechanism", TlsMode::Implicit, Opening({"AUTH CRAM-MD5"}, false) + quit,
       "no supported AUTH mechanism"},
  };
  for (const AuthCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dialogue d(Options(c.mode, "user", "secret"));
    EXPECT_EQ(d.Play(c.script), Lines(c.script));
    EXPECT_EQ(d.session.failure(), SessionFailure::Auth);
    EXPECT_EQ(d.session.failureText(), c.text);
  }
}

// One mail to a@ and b@ over a pipelining server; each case is the dialogue from the reply to
// MAIL on.
TEST(SmtpSession, EnvelopeDataAndFinalReplies) {
  const Script head = Opening({"PIPELINING"}) + Script{
      "> mail",
      "C: MAIL FROM:<s@example.org>", "C+ RCPT TO:<a@example.net>", "C+ RCPT TO:<b@example.net>",
  };
  const Script dataGo = {"S: 250 Ok", "S: 250 Ok", "S: 550 5.1.1 No such user", "C: DATA",
                         "S: 354 Go", "C: Hi", "C+ ."};
  const std::string bPermanent = "b@example.net Permanent 550 5.1.1 No such user\n";
  struct EnvelopeCase {
    const char* name;
    Script tail;
    std::string outcomes;
    SessionFailure failure = SessionFailure::None;
  };
  const std::vector<EnvelopeCase> cases = {
      {"MAIL refused, the RCPT replies are ignored",
       {"S: 451 4.3.0 Try later", "S: 503 5.5.1 MAIL first", "S: 503 5.5.1 MAIL first",
        "< ready"},
       "a@example.net Temporary 451 4.3.0 Try later\nb@example.net Temporary 451 4.3.0 Try later\n"},
      {"DATA 554",
       {"S: 250 Ok", "S: 250 Ok", "S: 550 5.1.1 No such user", "C: DATA",
        "S: 554 5.5.1 No valid recipients", "< ready"},
       "a@example.net Permanent 554 5.5.1 No valid recipients\n" + bPermanent},
      {"DATA 250 without 354", {"S: 250 Ok", "S: 250 Ok", "S: 550 5.1.1 No such user",
                                "C: DATA", "S: 250 Ok", "< ready"},
       "a@example.net Temporary 250 Ok\n" + bPermanent},
      {"final 452", dataGo + Script{"S: 452 4.3.1 Insufficient storage", "< ready"},
       "a@example.net Temporary 452 4.3.1 Insufficient storage\n" + bPermanent},
      {"final reply times out", dataGo + Script{"> timeout", "< close"},
       "a@example.net Temporary timed out after 600 s waiting for the reply to the message "
       "data\n" + bPermanent, SessionFailure::Timeout},
      {"RCPT reply times out", {"S: 250 Ok", "> timeout", "< close"},
       "a@example.net Temporary timed out after 300 s waiting for the reply to RCPT "
       "TO:<a@example.net>\nb@example.net Temporary timed out after 300 s waiting for the reply "
       "to RCPT TO:<a@example.net>\n", SessionFailure::Timeout},
      {"connection lost in the batch", {"S: 250 Ok", "S: 250 Ok", "> lost", "< close"},
       "a@example.net Temporary connection reset by peer\n"
       "b@example.net Temporary connection reset by peer\n", SessionFailure::Connection},
      {"421 in the batch", {"S: 250 Ok", "S: 550 5.1.1 No", "S: 421 4.4.2 Timeout", "< close"},
       "a@example.net Permanent 550 5.1.1 No\nb@example.net Temporary 421 4.4.2 Timeout\n",
       SessionFailure::Rejected},
  };
  for (const EnvelopeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dialogue d(Options(TlsMode::Off), {{"s@example.org", {"a@example.net", "b@example.net"},
                                        "Hi"}});
    EXPECT_EQ(d.Play(head + c.tail), Lines(head + c.tail));
    EXPECT_EQ(d.Outcomes(), c.outcomes);
    EXPECT_EQ(d.session.failure(), c.failure);
  }
}

TEST(SmtpSession, PipelinedMailsWithSizeBodyAndTranscript) {
  Dialogue d(Options(TlsMode::Off), {{"s@example.org", {"a@example.net"}, "Hi\r\n"},
                                     {"", {"b@example.net"}, "Gr\xC3\xBC\xC3\x9F" "e"}});
  const Script script = {
      "S: 220-mx.example ESMTP", "S: 220 no UCE",
      "C: EHLO client.example",
      "S: 250-mx.example", "S: 250-PIPELINING", "S: 250-SIZE 0", "S: 250 8BITMIME",
      "< ready",
      "> mail",
      "C: MAIL FROM:<s@example.org> SIZE=7", "C+ RCPT TO:<a@example.net>",
      "S: 250 Ok", "S: 250 Ok",
      "C: DATA", "S: 354 Go",
      "C: Hi", "C+ .",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  EXPECT_EQ(d.session.replyTimeout(), 600s);  // the reply to the final dot
  const Script rest = {
      "S: 250 Queued", "< ready",
      "> mail",
      "C: RSET", "C+ MAIL FROM:<> SIZE=10 BODY=8BITMIME", "C+ RCPT TO:<b@example.net>",
      "S: 250 Reset", "S: 250 Ok", "S: 550 5.1.1 No such user",
      "C: RSET", "S: 250 Ok",
      "< ready",
      "> quit", "C: QUIT", "S: 221 Bye", "< close",
  };
  EXPECT_EQ(d.Play(rest), Lines(rest));
  EXPECT_EQ(d.session.replyTimeout(), 300s);
  EXPECT_TRUE(d.session.over());
  EXPECT_EQ(d.session.failure(), SessionFailure::None);
  EXPECT_EQ(d.Outcomes(), "b@example.net Permanent 550 5.1.1 No such user\n");
  // Replies are recorded line by line; the message only by its size.
  EXPECT_TRUE(Contains(d.transcript, "S: 220-mx.example ESMTP\r\nS: 220 no UCE\r\n"));
  EXPECT_TRUE(Contains(d.transcript, "S: 354 Go\r\n* 7 bytes of message data\r\nS: 250 Queued"));
  EXPECT_FALSE(Contains(d.transcript, "Hi"));
}

TEST(SmtpSession, UnsafeAddressesNeverReachACommand) {
  const std::vector<std::string> bad = {"evil@example.net>\r\nRSET", "a<b@example.net", "",
                                        "del\x7f@example.net"};
  std::vector<std::string> mixed = bad;
  mixed.insert(mixed.begin() + 2, "ok@example.net");
  Dialogue d(Options(TlsMode::Off), {{"s@example.org", mixed, "x"},
                                     {"s@example.org", bad, "x"},
                                     {"s@example.org\r\nRSET", {"ok@example.net"}, "x"}});
  const Script script = Opening({"PIPELINING"}) + Script{
      "> mail",
      "C: MAIL FROM:<s@example.org>", "C+ RCPT TO:<ok@example.net>",
      "S: 250 Ok", "S: 250 Ok",
      "C: DATA", "S: 354 Go",
      "C: x", "C+ .", "S: 250 Queued",
      "< ready",
      "> mail",
      "< ready",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  for (const SmtpRecipientResult& r : d.session.recipients()) {
    EXPECT_EQ(r.outcome, RecipientOutcome::Permanent) << r.address;
    EXPECT_EQ(r.reply, "invalid address") << r.address;
  }
  EXPECT_EQ(d.Play({"> mail"}), "> mail\n< ready\n");
  EXPECT_EQ(d.Outcomes(), "ok@example.net Permanent invalid reverse path\n");
}

// An 8-bit mail and a server without 8BITMIME: the transport gives the 7-bit form; when there
// is none, no command goes out and every recipient fails for good with 5.6.3.
TEST(SmtpSession, EightBitMailAndAServerWithoutEightBitMime) {
  const std::string eightBit = "Subject: x\r\n\r\nGr\xC3\xBC\xC3\x9F" "e\r\n";
  Dialogue d(Options(TlsMode::Off),
             {{"s@example.org", {"a@example.net", "bad>@example.net"}, eightBit,
               "8-bit characters in a header"},
              {"s@example.org", {"a@example.net"}, "Subject: x\r\n\r\nGr=FC=DFe\r\n"}});
  const Script first = Opening({"PIPELINING", "SIZE 0"}) + Script{"> mail", "< ready"};
  EXPECT_EQ(d.Play(first), Lines(first));
  EXPECT_EQ(d.Outcomes(),
            "a@example.net Permanent 554 5.6.3 Conversion required but not supported: the server "
            "offers no 8BITMIME and the mail cannot be sent in 7 bit (8-bit characters in a "
            "header)\nbad>@example.net Permanent invalid address\n");
  const Script script = {
      "> mail",
      "C: MAIL FROM:<s@example.org> SIZE=28", "C+ RCPT TO:<a@example.net>",
      "S: 250 Ok", "S: 250 Ok", "C: DATA", "S: 354 Go",
      "C: Subject: x", "C+ ", "C+ Gr=FC=DFe", "C+ .",
      "S: 250 Queued", "< ready",
  };
  EXPECT_EQ(d.Play(script), Lines(script));
  EXPECT_TRUE(Contains(d.transcript, "* 554 5.6.3 Conversion required but not supported"));
}

// A session kept open between mails that the server has closed meanwhile never carried the
// next mail; once the server has answered anything about it, it may have.
TEST(SmtpSession, TellsWhetherTheServerAnsweredAboutTheMail) {
  const TestMail mail{"a@example.org", {"b@example.net"}, "x\r\n"};
  const Script sent = Opening({"PIPELINING"}) +
                     Script{"> mail", "C: MAIL FROM:<a@example.org>", "C+ RCPT TO:<b@example.net>"};
  const struct {
    Script script;
    bool answered;
  } cases[] = {
      {sent + Script{"> lost", "< close"}, false},
      {sent + Script{"S: 250 OK", "> lost", "< close"}, true},
  };
  for (const auto& c : cases) {
    Dialogue d(Options(TlsMode::Off), {mail});
    EXPECT_EQ(d.Play(c.script), Lines(c.script));
    EXPECT_EQ(d.session.mailAnswered(), c.answered);
  }
}

}  // namespace
}  // namespace pv
