#include "transport/session_driver.h"

#include <algorithm>

#include "transport/result_condition.h"

namespace pv {
namespace {

constexpr std::chrono::milliseconds kQuitWait{std::chrono::seconds(10)};

SmtpSession::Action ReadNext(LiveSession& live, std::chrono::milliseconds maxWait) {
  SmtpReply reply;
  std::string error;
  for (;;) {
    switch (live.reader.Next(reply, error)) {
      case SmtpReplyReader::Status::Reply: return live.session->OnReply(reply);
      case SmtpReplyReader::Status::Error: return live.session->OnProtocolError(error);
      case SmtpReplyReader::Status::NeedMore: break;
    }
    std::string bytes;
    const NetError e =
        live.connection->Read(bytes, std::min(live.session->replyTimeout(), maxWait));
    if (e.kind == NetError::Kind::Timeout) return live.session->OnTimeout();
    if (e) return live.session->OnConnectionLost(e.text);
    live.reader.Feed(bytes);
  }
}

SmtpSession::Action StartTls(LiveSession& live) {
  // Bytes that came with the STARTTLS reply would be taken as if they came over TLS.
  if (live.reader.HasPendingBytes())
    return live.session->OnProtocolError("data after the STARTTLS reply");
  const NetError e = live.connection->StartTls(live.tlsName, live.verifyTls, live.ioTimeout);
  if (e) return live.session->OnTlsFailed(e.text);
  return live.session->OnTlsEstablished(live.connection->tlsDescription());
}

NetError WriteAction(LiveSession& live, const SmtpSession::Action& action) {
  if (!action.bytes.empty())
    if (NetError e = live.connection->Write(action.bytes, live.ioTimeout)) return e;
  if (action.data && !action.data->empty())
    return live.connection->Write(*action.data, live.ioTimeout);
  return {};
}

SessionOpening Failed(std::string error, std::int32_t condition) {
  return SessionOpening{nullptr, std::move(error), condition, false};
}

}  // namespace

SmtpSession::Action Drive(LiveSession& live, SmtpSession::Action action,
                          std::chrono::milliseconds maxWait) {
  for (;;) {
    switch (action.kind) {
      case SmtpSession::ActionKind::Send:
        if (const NetError e = WriteAction(live, action)) {
          action = live.session->OnConnectionLost(e.text);
          break;
        }
        action = ReadNext(live, maxWait);
        break;
      case SmtpSession::ActionKind::StartTls: action = StartTls(live); break;
      case SmtpSession::ActionKind::Ready:
      case SmtpSession::ActionKind::Close: return action;
    }
  }
}

SessionOpening OpenSession(const Connector& connect, const SessionTarget& target,
                           Transcript& transcript) {
  const SmtpSessionOptions& options = target.options;
  auto live = std::make_unique<LiveSession>();
  live->tlsName = target.tlsName;
  live->verifyTls = options.tls == TlsMode::Required || options.tls == TlsMode::Implicit;
  live->ioTimeout = options.replyTimeout;
  NetError error;
  live->connection = connect(target.address, target.port, error);
  if (!live->connection) return Failed(error.text, ConditionOfNetError(error));
  if (options.tls == TlsMode::Implicit) {
    if (const NetError e = live->connection->StartTls(live->tlsName, true, live->ioTimeout)) {
      transcript.Note("TLS failed: " + e.text);
      return Failed(e.text, kConditionTls);
    }
    transcript.Note("TLS: " + live->connection->tlsDescription());
  }
  live->session = std::make_unique<SmtpSession>(options, transcript);
  const SmtpSession::Action action = Drive(*live, {SmtpSession::ActionKind::Send, ""});
  if (action.kind == SmtpSession::ActionKind::Ready) return SessionOpening{std::move(live), "", 0, false};
  SessionOpening failed =
      Failed(live->session->failureText(), ConditionOfFailure(live->session->failure()));
  failed.retryWithoutTls = live->session->plainRetryAdvised();
  return failed;
}

bool RunMail(LiveSession& live, SmtpMail mail, bool reused) {
  Drive(live, live.session->StartMail(std::move(mail)));
  return !(reused && !live.session->mailAnswered() && live.session->over());
}

void QuitSession(LiveSession& live) { Drive(live, live.session->Quit(), kQuitWait); }

}  // namespace pv
