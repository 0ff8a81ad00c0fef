#include "transport/result_condition.h"

namespace pv {
namespace {

bool IsServerReply(const std::string& reply) {
  return reply.size() >= 3 && reply[0] >= '2' && reply[0] <= '5';
}

}  // namespace

std::int32_t ConditionOfFailure(SessionFailure failure) {
  switch (failure) {
    case SessionFailure::Tls: return kConditionTls;
    case SessionFailure::Auth: return kConditionAuth;
    case SessionFailure::Protocol:
    case SessionFailure::Timeout: return kConditionProtocol;
    case SessionFailure::Connection:
    case SessionFailure::Rejected:
    case SessionFailure::None: break;
  }
  return kConditionConnection;
}

std::int32_t ConditionOfNetError(const NetError& error) {
  if (error.kind == NetError::Kind::Proxy) return kConditionProxy;
  if (error.kind == NetError::Kind::Tls) return kConditionTls;
  return kConditionConnection;
}

std::int32_t ConditionOfRecipient(const SmtpRecipientResult& result, SessionFailure failure) {
  if (!IsServerReply(result.reply)) return ConditionOfFailure(failure);
  return FinalOutcome(result.outcome) == RecipientOutcome::Permanent
             ? kConditionRecipientPermanent
             : kConditionRecipientTemporary;
}

RecipientOutcome FinalOutcome(RecipientOutcome outcome) {
  return outcome == RecipientOutcome::Pending ? RecipientOutcome::Temporary : outcome;
}

}  // namespace pv
