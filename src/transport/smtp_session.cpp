#include "transport/smtp_session.h"

#include <algorithm>

#include "support/base64.h"
#include "support/duration_text.h"

namespace pv {
namespace {

constexpr std::size_t kAuthPlainVisible = 11;  // "AUTH PLAIN "

// An address that may go between "<" and ">" of a command: no line break, no other control
// character, no angle bracket. The null reverse path is empty.
bool IsSafeAddress(std::string_view address) {
  return std::none_of(address.begin(), address.end(), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 0x20 || code == 0x7F || c == '<' || c == '>';
  });
}

SmtpSession::Action Closed() { return {SmtpSession::ActionKind::Close, {}}; }

}  // namespace

RecipientOutcome OutcomeOfReply(int code) {
  switch (code / 100) {
    case 2: return RecipientOutcome::Served;
    case 5: return RecipientOutcome::Permanent;
    default: return RecipientOutcome::Temporary;
  }
}

SmtpSession::SmtpSession(SmtpSessionOptions options, Transcript& transcript)
    : options_(std::move(options)),
      transcript_(&transcript),
      tlsActive_(options_.tls == TlsMode::Implicit) {}

// --- events from the driver ---------------------------------------------------------------

SmtpSession::Action SmtpSession::OnReply(const SmtpReply& reply) {
  Record(reply);
  // 421 is the server closing the connection, not an answer about the mail.
  if (reply.code != 421) ++repliesSinceMail_;
  if (state_ == State::Over) return Closed();
  if (state_ == State::Quit) {
    state_ = State::Over;
    return Closed();
  }
  if (reply.code == 421) return OnServerClosing(reply);
  switch (state_) {
    case State::Greeting: return OnGreeting(reply);
    case State::Ehlo:
    case State::Helo: return OnHello(reply);
    case State::StartTls: return OnStartTlsReply(reply);
    case State::AuthPlain:
    case State::AuthLogin:
    case State::AuthLoginUser:
    case State::AuthLoginPassword: return OnAuthReply(reply);
    case State::Envelope: return OnEnvelopeReply(reply);
    case State::Data: return OnDataReply(reply);
    case State::MessageData: return OnFinalReply(reply);
    case State::Reset: return BecomeReady();
    case State::TlsHandshake:
    case State::Ready:
    case State::Quit:
    case State::Over: break;
  }
  return Fail(SessionFailure::Protocol,
              std::string("unexpected reply (") + stateName() + "): " + reply.OneLine(), false);
}

SmtpSession::Action SmtpSession::OnTlsEstablished(std::string_view description) {
  if (state_ != State::TlsHandshake)
    return Fail(SessionFailure::Protocol, "TLS started without STARTTLS", false);
  tlsActive_ = true;
  transcript_->Note("TLS started: " + std::string(description));
  return SendEhlo();
}

SmtpSession::Action SmtpSession::OnTlsFailed(std::string_view error) {
  if (state_ == State::Over) return Closed();
  const std::string text = "TLS handshake failed: " + std::string(error);
  transcript_->Note(text);
  if (options_.tls == TlsMode::Opportunistic && state_ == State::TlsHandshake) {
    plainRetryAdvised_ = true;
    transcript_->Note("a new connection without TLS is advised");
  }
  return Fail(SessionFailure::Tls, text, false);
}

SmtpSession::Action SmtpSession::OnConnectionLost(std::string_view why) {
  if (state_ == State::Over || state_ == State::Quit) {
    state_ = State::Over;
    return Closed();
  }
  transcript_->Note("connection lost: " + std::string(why));
  return Fail(SessionFailure::Connection, std::string(why), false);
}

SmtpSession::Action SmtpSession::OnProtocolError(std::string_view why) {
  if (state_ == State::Over) return Closed();
  transcript_->Note("protocol error: " + std::string(why));
  return Fail(SessionFailure::Protocol, std::string(why), false);
}

SmtpSession::Action SmtpSession::OnTimeout() {
  if (state_ == State::Over || state_ == State::Quit) {
    state_ = State::Over;
    return Closed();
  }
  const std::string text =
      "timed out after " + DurationText(replyTimeout()) + " waiting for " + Awaited();
  transcript_->Note(text);
  return Fail(SessionFailure::Timeout, text, false);
}

SmtpSession::Action SmtpSession::Quit() {
  switch (state_) {
    case State::Over: return Closed();
    case State::Quit: return {ActionKind::Send, {}};
    case State::TlsHandshake:  // no command can go out in the middle of a handshake
      state_ = State::Over;
      return Closed();
    default: break;
  }
  SettlePending(RecipientOutcome::Temporary, "the session ended before the mail was finished");
  expected_.clear();
  unsent_.clear();
  return Send(State::Quit, "QUIT");
}

// --- greeting, EHLO, STARTTLS, AUTH -------------------------------------------------------

SmtpSession::Action SmtpSession::OnGreeting(const SmtpReply& reply) {
  if (reply.code != 220) return Fail(SessionFailure::Rejected, reply.OneLine(), true);
  return SendEhlo();
}

SmtpSession::Action SmtpSession::OnHello(const SmtpReply& reply) {
  if (reply.Class() == 2) {
    capabilities_ =
        state_ == State::Ehlo ? SmtpCapabilities::FromEhloReply(reply) : SmtpCapabilities{};
    return AfterHello();
  }
  if (state_ == State::Ehlo && reply.Class() == 5) {
    transcript_->Note("EHLO refused, falling back to HELO");
    return Send(State::Helo, "HELO " + options_.heloName);
  }
  return Fail(SessionFailure::Rejected, reply.OneLine(), true);
}

SmtpSession::Action SmtpSession::OnStartTlsReply(const SmtpReply& reply) {
  if (reply.code == 220) {
    state_ = State::TlsHandshake;
    return {ActionKind::StartTls, {}};
  }
  if (options_.tls == TlsMode::Required) return Fail(SessionFailure::Tls, reply.OneLine(), true);
  transcript_->Note("STARTTLS refused, continuing without TLS");
  return StartAuth();
}

SmtpSession::Action SmtpSession::OnAuthReply(const SmtpReply& reply) {
  switch (state_) {
    case State::AuthLogin:
      if (reply.code != 334) break;
      return SendSecret(State::AuthLoginUser, Base64Encode(options_.authUser), 0);
    case State::AuthLoginUser:
      if (reply.code != 334) break;
      return SendSecret(State::AuthLoginPassword, Base64Encode(options_.authPassword), 0);
    default:  // AUTH PLAIN or the LOGIN password
      if (reply.code == 235) return BecomeReady();
      break;
  }
  return Fail(SessionFailure::Auth, reply.OneLine(), true);
}

SmtpSession::Action SmtpSession::OnServerClosing(const SmtpReply& reply) {
  transcript_->Note("the server closes the connection");
  return Fail(SessionFailure::Rejected, reply.OneLine(), false);
}

SmtpSession::Action SmtpSession::SendEhlo() {
  capabilities_ = SmtpCapabilities{};
  return Send(State::Ehlo, "EHLO " + options_.heloName);
}

SmtpSession::Action SmtpSession::AfterHello() {
  const bool wantTls = options_.tls == TlsMode::Opportunistic || options_.tls == TlsMode::Required;
  if (wantTls && !tlsActive_) {
    if (capabilities_.startTls) return Send(State::StartTls, "STARTTLS");
    if (options_.tls == TlsMode::Required) {
      transcript_->Note("the server does not offer STARTTLS, which is required");
      return Fail(SessionFailure::Tls, "STARTTLS not offered", true);
    }
  }
  return StartAuth();
}

SmtpSession::Action SmtpSession::StartAuth() {
  if (options_.authUser.empty()) return BecomeReady();
  if (!tlsActive_) {
    transcript_->Note("no AUTH: the connection is not encrypted");
    return Fail(SessionFailure::Auth, "authentication needs TLS", true);
  }
  const auto& mechanisms = capabilities_.authMechanisms;
  if (mechanisms.contains("PLAIN")) {
    const std::string credentials =
        std::string(1, '\0') + options_.authUser + '\0' + options_.authPassword;
    return SendSecret(State::AuthPlain, "AUTH PLAIN " + Base64Encode(credentials),
                      kAuthPlainVisible);
  }
  if (mechanisms.contains("LOGIN")) return Send(State::AuthLogin, "AUTH LOGIN");
  transcript_->Note("no AUTH: the server offers neither PLAIN nor LOGIN");
  return Fail(SessionFailure::Auth, "no supported AUTH mechanism", true);
}

// --- the mail -------------------------------------------------------------------------------

SmtpSession::Action SmtpSession::StartMail(SmtpMail mail) {
  if (state_ != State::Ready) return RefuseMail(mail);
  repliesSinceMail_ = 0;
  recipients_.clear();
  accepted_.assign(mail.recipients.size(), false);
  unsent_.clear();
  expected_.clear();
  mailRefused_ = false;
  probe_ = mail.probe;
  const bool fromOk = IsSafeAddress(mail.reversePath);
  for (std::size_t i = 0; i < mail.recipients.size(); ++i) {
    const std::string& address = mail.recipients[i];
    recipients_.push_back({address, RecipientOutcome::Pending, {}});
    if (!fromOk || address.empty() || !IsSafeAddress(address)) {
      recipients_[i].outcome = RecipientOutcome::Permanent;
      recipients_[i].reply = fromOk ? "invalid address" : "invalid reverse path";
      continue;
    }
    unsent_.push_back({CommandKind::Rcpt, i, "RCPT TO:<" + address + ">"});
  }
  if (unsent_.empty()) return BecomeReady();
  if (mail.eightBit && !capabilities_.eightBitMime) return RefuseEightBit(mail);
  wireData_ = mail.data ? mail.data : std::make_shared<const std::string>(".\r\n");
  unsent_.push_front({CommandKind::Mail, 0, MailCommand(mail)});
  if (mailSent_) unsent_.push_front({CommandKind::Rset, 0, "RSET"});
  mailSent_ = true;
  state_ = State::Envelope;
  return SendQueued();
}

std::string SmtpSession::MailCommand(const SmtpMail& mail) const {
  std::string line = "MAIL FROM:<" + mail.reversePath + ">";
  if (capabilities_.size && wireData_ && !mail.probe)
    line += " SIZE=" + std::to_string(wireData_->size());
  if (mail.eightBit) line += " BODY=8BITMIME";
  return line;
}

// A mail on a session that cannot take it: its recipients stay temporary. A session in the
// middle of something else is ended, since the caller lost track of it.
SmtpSession::Action SmtpSession::RefuseMail(const SmtpMail& mail) {
  Action action = Closed();
  std::string why = failureText_.empty() ? "the session is over" : failureText_;
  if (state_ != State::Over) {
    why = std::string("a mail was started while the session was busy (") + stateName() + ")";
    action = Fail(SessionFailure::Protocol, why, false);
  }
  recipients_.clear();
  for (const std::string& address : mail.recipients)
    recipients_.push_back({address, RecipientOutcome::Temporary, why});
  accepted_.assign(recipients_.size(), false);
  return action;
}

// An 8-bit mail for a server without 8BITMIME that could not be made 7-bit: no command goes
// out, and every recipient that could have been tried fails with the one reply for that.
SmtpSession::Action SmtpSession::RefuseEightBit(const SmtpMail& mail) {
  const std::string why = mail.noSevenBit.empty() ? "it has no 7-bit form" : mail.noSevenBit;
  const std::string reply = std::to_string(kConversionImpossibleCode) +
                            " 5.6.3 Conversion required but not supported: the server offers no "
                            "8BITMIME and the mail cannot be sent in 7 bit (" + why + ")";
  transcript_->Note(reply);
  unsent_.clear();
  SettlePending(OutcomeOfReply(kConversionImpossibleCode), reply);
  return BecomeReady();
}

SmtpSession::Action SmtpSession::SendQueued() {
  std::string bytes;
  do {
    Command command = std::move(unsent_.front());
    unsent_.pop_front();
    transcript_->Client(command.line);
    bytes += command.line + "\r\n";
    expected_.push_back(std::move(command));
  } while (capabilities_.pipelining && !unsent_.empty());
  return {ActionKind::Send, std::move(bytes)};
}

SmtpSession::Action SmtpSession::OnEnvelopeReply(const SmtpReply& reply) {
  if (expected_.empty()) return Fail(SessionFailure::Protocol, "reply without a command", false);
  const Command command = std::move(expected_.front());
  expected_.pop_front();
  const bool positive = reply.Class() == 2;
  if (command.kind == CommandKind::Mail && !positive) {
    // No RCPT goes out any more; with PIPELINING the replies to those sent are read and ignored.
    mailRefused_ = true;
    unsent_.clear();
    SettlePending(OutcomeOfReply(reply.code), reply.OneLine());
  } else if (command.kind == CommandKind::Rcpt && !mailRefused_) {
    SmtpRecipientResult& recipient = recipients_[command.recipient];
    if (positive) {
      accepted_[command.recipient] = true;
      if (probe_) recipient.reply = reply.OneLine();
    } else {
      recipient.outcome = OutcomeOfReply(reply.code);
      recipient.reply = reply.OneLine();
    }
  }
  if (!expected_.empty()) return {ActionKind::Send, {}};
  if (!unsent_.empty()) return SendQueued();
  return AfterRecipients();
}

SmtpSession::Action SmtpSession::AfterRecipients() {
  if (mailRefused_) return BecomeReady();
  if (probe_) {
    for (std::size_t i = 0; i < recipients_.size(); ++i)
      if (accepted_[i]) recipients_[i].outcome = RecipientOutcome::Served;
    transcript_->Note("a probe: no DATA");
    return Send(State::Reset, "RSET");
  }
  if (std::find(accepted_.begin(), accepted_.end(), true) != accepted_.end())
    return Send(State::Data, "DATA");
  transcript_->Note("no recipient accepted");
  return Send(State::Reset, "RSET");
}

SmtpSession::Action SmtpSession::OnDataReply(const SmtpReply& reply) {
  if (reply.code != 354) {
    // Even a 2xx here is no delivery: the message never went out.
    const auto outcome =
        reply.Class() == 5 ? RecipientOutcome::Permanent : RecipientOutcome::Temporary;
    SettlePending(outcome, reply.OneLine());
    return BecomeReady();
  }
  state_ = State::MessageData;
  transcript_->Note(std::to_string(wireData_ ? wireData_->size() : 0) + " bytes of message data");
  Action action{ActionKind::Send, {}, std::move(wireData_)};
  wireData_.reset();
  return action;
}

SmtpSession::Action SmtpSession::OnFinalReply(const SmtpReply& reply) {
  // Every recipient still pending was accepted by RCPT.
  SettlePending(OutcomeOfReply(reply.code), reply.OneLine());
  return BecomeReady();
}

// --- helpers ------------------------------------------------------------------------------

SmtpSession::Action SmtpSession::Send(State next, const std::string& line) {
  transcript_->Client(line);
  state_ = next;
  return {ActionKind::Send, line + "\r\n"};
}

SmtpSession::Action SmtpSession::SendSecret(State next, const std::string& line,
                                            std::size_t visible) {
  transcript_->ClientSecret(line, visible);
  state_ = next;
  return {ActionKind::Send, line + "\r\n"};
}

SmtpSession::Action SmtpSession::BecomeReady() {
  state_ = State::Ready;
  wireData_.reset();
  return {ActionKind::Ready, {}};
}

SmtpSession::Action SmtpSession::Fail(SessionFailure failure, const std::string& text, bool quit) {
  failure_ = failure;
  failureText_ = text;
  SettlePending(RecipientOutcome::Temporary, text);
  expected_.clear();
  unsent_.clear();
  wireData_.reset();
  if (quit) return Send(State::Quit, "QUIT");
  state_ = State::Over;
  return Closed();
}

void SmtpSession::SettlePending(RecipientOutcome outcome, const std::string& text) {
  for (SmtpRecipientResult& recipient : recipients_) {
    if (recipient.outcome != RecipientOutcome::Pending) continue;
    recipient.outcome = outcome;
    recipient.reply = text;
  }
}

// Each line as the server sent it: "250-first", "250 last".
void SmtpSession::Record(const SmtpReply& reply) {
  const std::string code = std::to_string(reply.code);
  if (reply.lines.empty()) transcript_->Server(code);
  for (std::size_t i = 0; i < reply.lines.size(); ++i)
    transcript_->Server(code + (i + 1 < reply.lines.size() ? "-" : " ") + reply.lines[i]);
}

// What the session waits for, for a timeout message.
std::string SmtpSession::Awaited() const {
  switch (state_) {
    case State::Greeting: return "the greeting";
    case State::TlsHandshake: return "the TLS handshake";
    case State::MessageData: return "the reply to the message data";
    case State::Envelope:
      return "the reply to " + (expected_.empty() ? std::string("RCPT") : expected_.front().line);
    default: return std::string("the reply to ") + stateName();
  }
}

// --- queries ------------------------------------------------------------------------------

bool SmtpSession::ready() const { return state_ == State::Ready; }

bool SmtpSession::over() const { return state_ == State::Over; }

std::chrono::milliseconds SmtpSession::replyTimeout() const {
  return state_ == State::MessageData ? options_.finalReplyTimeout : options_.replyTimeout;
}

const char* SmtpSession::stateName() const {
  switch (state_) {
    case State::Greeting: return "greeting";
    case State::Ehlo: return "EHLO";
    case State::Helo: return "HELO";
    case State::StartTls: return "STARTTLS";
    case State::TlsHandshake: return "TLS handshake";
    case State::AuthPlain: return "AUTH PLAIN";
    case State::AuthLogin: return "AUTH LOGIN";
    case State::AuthLoginUser: return "AUTH LOGIN user";
    case State::AuthLoginPassword: return "AUTH LOGIN password";
    case State::Ready: return "ready";
    case State::Envelope: return "envelope";
    case State::Data: return "DATA";
    case State::MessageData: return "message data";
    case State::Reset: return "RSET";
    case State::Quit: return "QUIT";
    case State::Over: return "over";
  }
  return "?";
}

}  // namespace pv
