#pragma once
// The utility object of scripts: checks that a mail from one address to another can be
// delivered as far as DNS can tell. Both addresses must be valid mailboxes; the recipient's
// domain must have a mail exchanger with an address (its MX hosts, or, without an MX record,
// the domain's own A/AAAA records: the implicit MX). A domain that does not exist, a null MX,
// a failing or silent DNS server fail the trace. No SMTP server is asked, unless a probe is
// asked for.
#include <chrono>
#include <string>
#include <string_view>

#include "settings/spooler_settings.h"

namespace pv {

class MailTrace {
 public:
  // The DNS servers to ask, comma-separated (ip or ip:port); "" means the system's.
  std::string DNSUrl;
  // How long one DNS question may take.
  std::chrono::milliseconds timeout{5000};

  // True when both addresses pass and the recipient's domain takes mail.
  bool Trace(std::string_view from, std::string_view to);
  // Asks the SMTP servers along the spooler's own route (the relay or the MX hosts, through
  // its proxy, with its TLS rules): EHLO, MAIL, RCPT, RSET, QUIT, never DATA. True when the
  // recipient was accepted. Its dialogue is added to the Protocol.
  bool Probe(std::string_view from, std::string_view to, const SpoolerSettings& settings);
  // The steps of the last Trace (and Probe), one line each, with the DNS answers.
  const std::string& Protocol() const { return protocol_; }
  // The last Trace failed for a reason that may pass: SERVFAIL, a time-out, no server.
  bool FailureTemporary() const { return temporary_; }

 private:
  bool Fail(std::string line);
  void Note(std::string line);
  bool TraceDomain(const std::string& domain);

  std::string protocol_;
  bool temporary_ = false;
};

}  // namespace pv
