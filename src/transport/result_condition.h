#pragma once
// The kind of a delivery's last failure, and how the failures of connections and sessions map
// onto it.
#include <cstdint>
#include <string>

#include "transport/connection.h"
#include "transport/smtp_session.h"

namespace pv {

// The kind of the last failure (MailTransport::GetResultCondition).
enum ResultCondition : std::int32_t {
  kConditionNone = 0,              // every recipient served
  kConditionRecipientTemporary = 1,  // a server answered 4xx
  kConditionRecipientPermanent = 2,  // a server answered 5xx
  kConditionDnsTemporary = 3,      // SERVFAIL, timeout, no answer
  kConditionDnsPermanent = 4,      // no such domain, or a null MX
  kConditionConnection = 5,        // no server could be reached, or the connection broke
  kConditionProxy = 6,             // the SOCKS proxy refused or failed
  kConditionTls = 7,               // TLS required but not possible
  kConditionAuth = 8,              // the relay refused the login
  kConditionProtocol = 9,          // a server broke the protocol or did not answer in time
  kConditionInvalidAddress = 10,   // a recipient or the sender is not a valid address
  kConditionNoMail = 11,           // nothing to send: no mail loaded, or no recipient
};

std::int32_t ConditionOfFailure(SessionFailure failure);
std::int32_t ConditionOfNetError(const NetError& error);
// A recipient's condition after a mail: by the server's reply, or, when the reply is the
// session's own text (the connection broke, ...), by the session's failure.
std::int32_t ConditionOfRecipient(const SmtpRecipientResult& result, SessionFailure failure);
// A recipient still pending when the session ended failed for now.
RecipientOutcome FinalOutcome(RecipientOutcome outcome);

}  // namespace pv
