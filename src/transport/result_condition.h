#pragma once
// How the failures of connections and sessions map onto the kind of a delivery's last failure
// (ResultCondition, support/exit_codes.h).
#include <cstdint>
#include <string>

#include "support/exit_codes.h"
#include "transport/connection.h"
#include "transport/smtp_session.h"

namespace pv {

std::int32_t ConditionOfFailure(SessionFailure failure);
std::int32_t ConditionOfNetError(const NetError& error);
// A recipient's condition after a mail: by the server's reply, or, when the reply is the
// session's own text (the connection broke, ...), by the session's failure.
std::int32_t ConditionOfRecipient(const SmtpRecipientResult& result, SessionFailure failure);
// A recipient still pending when the session ended failed for now.
RecipientOutcome FinalOutcome(RecipientOutcome outcome);

}  // namespace pv
