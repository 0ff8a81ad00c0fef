#pragma once
// The SMTP client dialogue (RFC 5321) as an explicit state machine. It owns no socket: the
// driver feeds it replies and does what its actions say (write bytes, start TLS, close), so
// the whole dialogue can be replayed from a recorded transcript.
//
// On entering a state the session sends that state's command; the reply picks the next state.
// With PIPELINING (RFC 2920) the RSET before a further mail, MAIL and every RCPT go out in one
// write and their replies are taken in order. DATA is sent only when a recipient was accepted
// (else RSET). Every recipient ends with its own outcome.
#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "transport/smtp_reply.h"
#include "transport/transcript.h"
#include "transport/wire_data.h"

namespace pv {

enum class RecipientOutcome { Pending, Served, Temporary, Permanent };

// The one place where a reply code decides an outcome: 2xx served, 5xx permanent, anything
// else temporary.
RecipientOutcome OutcomeOfReply(int code);

enum class TlsMode {
  Opportunistic,  // STARTTLS whenever offered; the certificate is not required to verify
  Required,       // STARTTLS must be offered and succeed; the certificate must verify
  Implicit,       // the connection is TLS from the start (the driver's handshake)
  Off,            // never STARTTLS
};

enum class SessionFailure {
  None,
  Connection,  // the connection broke
  Timeout,     // a reply did not come in time
  Protocol,    // the server broke the protocol (malformed reply, unexpected code)
  Tls,         // TLS required but not offered, refused or failed
  Auth,        // authentication refused or impossible
  Rejected,    // the greeting, EHLO or HELO was refused: this server takes no mail now
};

struct SmtpSessionOptions {
  std::string heloName;
  TlsMode tls = TlsMode::Opportunistic;
  std::string authUser;  // empty: no AUTH
  std::string authPassword;
  std::chrono::milliseconds replyTimeout{std::chrono::minutes(5)};
  std::chrono::milliseconds finalReplyTimeout{std::chrono::minutes(10)};  // after the final dot
};

struct SmtpMail {
  std::string reversePath;              // "" is the null reverse path: MAIL FROM:<>
  std::vector<std::string> recipients;  // validated mailboxes: no CR, LF, "<" or ">"
  WireBytes data;                       // as PrepareWireData made it, the final dot included
  bool eightBit = false;  // data holds 8-bit bytes: only for a server that offers 8BITMIME
  std::string noSevenBit = {};  // why the mail has no 7-bit form, for a server without 8BITMIME
  // Only ask: no DATA; a recipient the server accepted is Served with its RCPT reply, and RSET
  // ends the mail (a trace of the route, never a delivery).
  bool probe = false;
};

// The reply that settles the recipients of an 8-bit mail that a server without 8BITMIME
// cannot take (RFC 6152, RFC 3463 5.6.3).
inline constexpr int kConversionImpossibleCode = 554;

struct SmtpRecipientResult {
  std::string address;
  RecipientOutcome outcome = RecipientOutcome::Pending;
  std::string reply;  // the reply that settled it ("550 5.1.1 No such user"), or what went wrong
};

class SmtpSession {
 public:
  enum class ActionKind {
    Send,      // write `bytes` (and then `data`, when set), then read the next reply
    StartTls,  // do the TLS handshake now, then call OnTlsEstablished or OnTlsFailed
    Ready,     // idle: StartMail or Quit
    Close,     // close the connection: the session is over
  };
  struct Action {
    ActionKind kind = ActionKind::Close;
    std::string bytes;
    WireBytes data = nullptr;  // the message data, shared with its holder, never copied
  };

  SmtpSession(SmtpSessionOptions options, Transcript& transcript);

  // The connection is up (and TLS for TlsMode::Implicit): the session waits for the greeting.
  // Every reply read from the server goes here, one at a time.
  Action OnReply(const SmtpReply& reply);
  Action OnTlsEstablished(std::string_view description);
  Action OnTlsFailed(std::string_view error);
  // The connection broke, a reply was malformed, or none came in time: recipients still
  // pending become temporary failures with `why`; the session is over (Close).
  Action OnConnectionLost(std::string_view why);
  Action OnProtocolError(std::string_view why);
  Action OnTimeout();

  // Starts a mail on a ready session.
  Action StartMail(SmtpMail mail);
  // Where the dialogue is written from now on: a kept session serves the mails of other
  // deliveries, each with its own protocol.
  void SetTranscript(Transcript& transcript) { transcript_ = &transcript; }
  // QUIT; Close follows its reply. A session that is over gives Close at once.
  Action Quit();

  bool ready() const;
  bool over() const;
  // Whether the server answered anything (but 421) since the current mail started. A reused
  // session that broke before any answer never carried the mail: it may go on a new one.
  bool mailAnswered() const { return repliesSinceMail_ > 0; }
  // The current (or last) mail's recipients, each with its outcome.
  const std::vector<SmtpRecipientResult>& recipients() const { return recipients_; }
  SessionFailure failure() const { return failure_; }
  const std::string& failureText() const { return failureText_; }
  const SmtpCapabilities& capabilities() const { return capabilities_; }
  bool tlsActive() const { return tlsActive_; }
  // Opportunistic STARTTLS failed in the handshake: a new plain session to the same host is
  // the way on (TlsMode::Off).
  bool plainRetryAdvised() const { return plainRetryAdvised_; }
  // How long to wait for the reply now expected.
  std::chrono::milliseconds replyTimeout() const;
  const char* stateName() const;

 private:
  enum class State {
    Greeting,           // connected, the greeting not yet read
    Ehlo,
    Helo,
    StartTls,           // STARTTLS sent
    TlsHandshake,       // the driver does the handshake
    AuthPlain,
    AuthLogin,          // AUTH LOGIN sent, the user name is asked for next
    AuthLoginUser,      // the user name sent, the password is asked for next
    AuthLoginPassword,  // the password sent
    Ready,
    Envelope,           // RSET, MAIL and RCPT of a mail: the replies in `expected_`
    Data,               // DATA sent
    MessageData,        // the message and its final dot sent
    Reset,              // RSET after a mail that no recipient accepted
    Quit,               // QUIT sent: any reply ends the session
    Over,
  };
  enum class CommandKind { Rset, Mail, Rcpt };
  struct Command {
    CommandKind kind = CommandKind::Rset;
    std::size_t recipient = 0;  // index into recipients_ for RCPT
    std::string line;
  };

  Action OnGreeting(const SmtpReply& reply);
  Action OnHello(const SmtpReply& reply);
  Action OnStartTlsReply(const SmtpReply& reply);
  Action OnAuthReply(const SmtpReply& reply);
  Action OnEnvelopeReply(const SmtpReply& reply);
  Action OnDataReply(const SmtpReply& reply);
  Action OnFinalReply(const SmtpReply& reply);
  Action OnServerClosing(const SmtpReply& reply);

  Action SendEhlo();
  Action AfterHello();
  Action StartAuth();
  Action AfterRecipients();
  Action SendQueued();
  Action Send(State next, const std::string& line);
  Action SendSecret(State next, const std::string& line, std::size_t visible);
  Action BecomeReady();
  // Ends the session with a failure: pending recipients become temporary with `text`; with
  // `quit` QUIT goes first, otherwise the connection closes at once.
  Action Fail(SessionFailure failure, const std::string& text, bool quit);
  Action RefuseMail(const SmtpMail& mail);
  Action RefuseEightBit(const SmtpMail& mail);
  std::string MailCommand(const SmtpMail& mail) const;
  void SettlePending(RecipientOutcome outcome, const std::string& text);
  void Record(const SmtpReply& reply);
  std::string Awaited() const;

  SmtpSessionOptions options_;
  Transcript* transcript_;
  SmtpCapabilities capabilities_;
  std::vector<SmtpRecipientResult> recipients_;
  std::vector<bool> accepted_;  // per recipient: RCPT answered 2xx
  SessionFailure failure_ = SessionFailure::None;
  std::string failureText_;
  bool tlsActive_ = false;
  bool plainRetryAdvised_ = false;
  State state_ = State::Greeting;
  std::deque<Command> unsent_;    // envelope commands not yet written (no PIPELINING)
  std::deque<Command> expected_;  // commands written whose replies are awaited, in order
  WireBytes wireData_;            // the current mail's data
  bool mailRefused_ = false;      // MAIL was refused: the RCPT replies still due are ignored
  bool probe_ = false;            // the mail is a probe: RSET where DATA would go
  bool mailSent_ = false;         // a MAIL went out before: the next mail starts with RSET
  int repliesSinceMail_ = 0;
};

}  // namespace pv
