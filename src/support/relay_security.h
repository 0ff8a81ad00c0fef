#pragma once
// The relay host's TLS choice, as the settings hold it and the mail transport applies it.

namespace pv {

enum class RelaySecurityMode {
  Auto,      // STARTTLS when offered, the certificate not required
  StartTls,  // STARTTLS required, the certificate verified
  Tls,       // TLS from the first byte (port 465 by default), the certificate verified
  None,      // never TLS
};

}  // namespace pv
