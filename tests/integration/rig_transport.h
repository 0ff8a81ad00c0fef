#pragma once
// A transport set up for the rig: the rig's DNS server and timeouts that a busy machine keeps.
#include <chrono>

#include "rig_env.h"
#include "transport/mail_transport.h"

namespace pv::test {

inline void UseRig(MailTransport& transport, const RigEnv& rig) {
  transport.SetDnsServers(rig.Str("RIG_DNS_SERVER"));
  TransportTimeouts timeouts;
  timeouts.connect = std::chrono::seconds(5);
  timeouts.reply = std::chrono::seconds(15);
  timeouts.finalReply = std::chrono::seconds(15);
  timeouts.dns = std::chrono::seconds(5);
  transport.SetTimeouts(timeouts);
}

}  // namespace pv::test
