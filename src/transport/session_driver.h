#pragma once
// Feeds the SMTP state machine from a connection: writes what the session asks, reads and
// parses the replies, does the TLS handshakes. Opening a session gives a result value that
// says why it failed and whether the same host may be tried again without TLS.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/connection.h"
#include "transport/smtp_reply.h"
#include "transport/smtp_session.h"
#include "transport/transcript.h"

namespace pv {

// A session and the connection and reply reader it runs on.
struct LiveSession {
  std::unique_ptr<Connection> connection;
  std::unique_ptr<SmtpSession> session;
  SmtpReplyReader reader;
  std::string tlsName;     // the name the certificate must carry
  bool verifyTls = false;  // a STARTTLS handshake must verify the certificate
  std::chrono::milliseconds ioTimeout{std::chrono::minutes(5)};  // writes and handshakes
};

// Connects to address:port (the transport's proxy and timeouts applied).
using Connector = std::function<std::unique_ptr<Connection>(
    const std::string& address, std::uint16_t port, NetError& error)>;

struct SessionTarget {
  std::string address;
  std::uint16_t port = 25;
  std::string tlsName;
  SmtpSessionOptions options;
};

struct SessionOpening {
  std::unique_ptr<LiveSession> session;  // ready for a mail; null when opening failed
  std::string error;                     // why it failed
  std::int32_t condition = 0;            // a ResultCondition, when it failed
  // Opportunistic TLS failed in the handshake: the same host may be tried once more with
  // TlsMode::Off.
  bool retryWithoutTls = false;
};

// Connects and runs the session up to the point where it can take a mail.
SessionOpening OpenSession(const Connector& connect, const SessionTarget& target,
                           Transcript& transcript);

// Does what the session asks, from `action` on, until it is ready for a mail or over; no read
// waits longer than maxWait.
SmtpSession::Action Drive(LiveSession& live, SmtpSession::Action action,
                          std::chrono::milliseconds maxWait = std::chrono::milliseconds::max());

// Runs a mail on a ready session; the recipients' outcomes are in live.session->recipients().
// False when a reused session broke before any server answer about the mail (it was stale):
// the mail may go on a new session then.
bool RunMail(LiveSession& live, SmtpMail mail, bool reused);

// QUIT, waiting at most a few seconds for the reply.
void QuitSession(LiveSession& live);

}  // namespace pv
