#include "scripting/mail_trace.h"

#include "engine/delivery.h"
#include "support/exit_codes.h"
#include "transport/dns.h"
#include "transport/mail_transport.h"
#include "transport/recipients.h"

namespace pv {

void MailTrace::Note(std::string line) { protocol_ += line + "\r\n"; }

bool MailTrace::Fail(std::string line) {
  Note("Failed: " + std::move(line));
  return false;
}

bool MailTrace::Trace(std::string_view from, std::string_view to) {
  protocol_.clear();
  temporary_ = false;
  std::string recipient;
  for (const auto& [role, text] : {std::pair{"Sender", from}, std::pair{"Recipient", to}}) {
    const Mailbox mailbox = ParseMailbox(text);
    const std::string error =
        mailbox.error.empty() ? CheckMailboxAddress(mailbox.address) : mailbox.error;
    if (!error.empty()) return Fail(std::string(role) + " \"" + std::string(text) + "\": " + error);
    Note(std::string(role) + " " + mailbox.address + ": valid address");
    recipient = mailbox.address;
  }
  const std::string domain = DomainOfAddress(recipient);
  if (domain.starts_with('[')) {
    Note("Domain " + domain + ": an address literal, no DNS lookup");
    return true;
  }
  return TraceDomain(domain);
}

bool MailTrace::TraceDomain(const std::string& domain) {
  DnsResolver resolver(DNSUrl, timeout);
  Note("DNS servers: " + (DNSUrl.empty() ? std::string("the system's") : DNSUrl));
  temporary_ = true;  // until an answer says otherwise
  if (!resolver.initError().empty()) return Fail("DNS: " + resolver.initError());
  const MxAnswer mx = resolver.LookupMx(domain);
  Note(mx.text);
  if (mx.status == DnsStatus::NoData) {
    const AddressAnswer implicit = resolver.LookupAddresses(domain);
    Note(implicit.text);
    temporary_ = implicit.status == DnsStatus::TempFail;
    if (implicit.status != DnsStatus::Ok) return Fail(domain + " has no mail exchanger");
    Note("OK: " + domain + " takes mail itself (implicit MX)");
    return true;
  }
  temporary_ = mx.status == DnsStatus::TempFail;
  if (mx.status != DnsStatus::Ok) return Fail(domain + " takes no mail (" +
                                              std::string(DnsStatusName(mx.status)) + ")");
  for (const MxHost& host : mx.hosts) {
    const AddressAnswer address = resolver.LookupAddresses(host.name);
    Note(address.text);
    temporary_ = temporary_ || address.status == DnsStatus::TempFail;
    if (address.status == DnsStatus::Ok) {
      Note("OK: " + domain + " takes mail at " + host.name);
      return true;
    }
  }
  return Fail("no mail exchanger of " + domain + " has an address");
}

bool MailTrace::Probe(std::string_view from, std::string_view to,
                      const SpoolerSettings& settings) {
  const std::string sender = ParseMailbox(from).address;
  const std::string recipient = ParseMailbox(to).address;
  if (sender.empty() || recipient.empty()) return Fail("probe: the addresses are not valid");
  MailTransport transport;
  ConfigureTransport(transport, settings);
  transport.SetProbe(true);
  const std::string mail = "From: " + sender + "\r\nTo: " + recipient + "\r\nSubject: probe\r\n\r\n";
  transport.LoadMail(mail, sender, recipient);
  Note("Probe along the spooler's route (" +
       (settings.RelayHostName.empty() ? std::string("the MX hosts") : "relay " + settings.RelayHostName) +
       "): no DATA");
  const bool accepted = transport.Send(settings.SenderHostName);
  transport.CloseAllSessions();
  protocol_ += transport.GetResultProtocol();
  if (!protocol_.ends_with("\r\n")) protocol_ += "\r\n";
  if (accepted) {
    Note("OK: " + recipient + " accepted");
    return true;
  }
  temporary_ = transport.GetResultCondition() != kConditionRecipientPermanent &&
               transport.GetResultCondition() != kConditionDnsPermanent &&
               transport.GetResultCondition() != kConditionInvalidAddress;
  return Fail(recipient + " not accepted: " + transport.GetResultMessage());
}

}  // namespace pv
