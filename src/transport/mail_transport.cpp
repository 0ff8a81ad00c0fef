#include "transport/mail_transport.h"

#include <algorithm>

#include "support/ip_literal.h"
#include "transport/recipients.h"
#include "transport/dns.h"
#include "transport/mx_fallback.h"
#include "transport/smtp_reply.h"
#include "transport/wire_data.h"

namespace pv {

struct MailTransport::Recipient {
  std::vector<std::string> items;  // the comma-list items it came from, as given
  std::string address;             // "" when the items hold no valid address
  RecipientOutcome outcome = RecipientOutcome::Pending;
  std::string reply;
  std::int32_t condition = kConditionNone;
};

MailTransport::MailTransport() = default;

std::unique_ptr<MailTransport> MailTransport::NewLane() const {
  auto lane = std::make_unique<MailTransport>();
  lane->timeouts_ = timeouts_;
  lane->sessions_ = sessions_;
  lane->sharedResolver_ = sharedResolver_;
  return lane;
}

MailTransport::~MailTransport() { CloseAllSessions(); }

bool MailTransport::ComposerResult(bool ok) {
  if (!ok) {
    resultMessage_ = composer_.lastError();
    resultCondition_ = kConditionNoMail;
  }
  return ok;
}

bool MailTransport::NewMail(const std::string& subject, const std::string& from,
                            const std::string& to, const std::string& body) {
  return ComposerResult(composer_.NewMail(subject, from, to, body));
}

bool MailTransport::AddHeader(const std::string& name, const std::string& value) {
  return ComposerResult(composer_.AddHeader(name, value));
}

bool MailTransport::AddTextAttachment(const std::string& text, const std::string& name) {
  return ComposerResult(composer_.AddTextAttachment(text, name));
}

bool MailTransport::AddFileAttachment(const std::string& path, const std::string& name) {
  return ComposerResult(composer_.AddFileAttachment(path, name));
}

bool MailTransport::AddBytesAttachment(const std::string& content, const std::string& name) {
  return ComposerResult(composer_.AddBytesAttachment(content, name));
}

bool MailTransport::SpoolToFile(const std::string& path, bool replace) {
  std::string error;
  if (composer_.SpoolToFile(path, error, replace)) return true;
  resultMessage_ = error;
  resultCondition_ = kConditionNoMail;
  return false;
}

bool MailTransport::ResetMail() {
  composer_.Reset();
  mailText_.clear();
  headers_ = body_ = {};
  from_.clear();
  recipientList_.clear();
  loaded_ = false;
  returnMail_ = false;
  return true;
}

bool MailTransport::LoadMail(const std::string& mailText, const std::string& from,
                             const std::string& recipients) {
  mailText_ = mailText;
  const std::string_view text = mailText_;
  const auto end = text.find("\r\n\r\n");
  headers_ = text.substr(0, end);
  body_ = end == std::string_view::npos ? std::string_view() : text.substr(end + 4);
  wholeText_ = true;
  from_ = from;
  recipientList_ = recipients;
  loaded_ = true;
  return true;
}

bool MailTransport::LoadMailParts(std::string_view headers, std::string_view body,
                                  const std::string& from, const std::string& recipients) {
  mailText_.clear();
  headers_ = headers;
  body_ = body;
  wholeText_ = false;
  from_ = from;
  recipientList_ = recipients;
  loaded_ = true;
  return true;
}

void MailTransport::SetDnsServers(const std::string& servers) {
  if (servers != dnsServers_) resolver_.reset();
  dnsServers_ = servers;
}

// One resolver, shared with the other lanes, for as long as the servers and the timeout stay
// the same.
DnsResolver& MailTransport::Resolver() {
  if (resolver_) return *resolver_;
  SharedResolver& shared = *sharedResolver_;
  const std::lock_guard lock(shared.mutex);
  if (!shared.resolver || shared.servers != dnsServers_ || shared.timeout != timeouts_.dns) {
    shared.resolver = std::make_shared<DnsResolver>(dnsServers_, timeouts_.dns);
    shared.servers = dnsServers_;
    shared.timeout = timeouts_.dns;
  }
  resolver_ = shared.resolver;
  return *resolver_;
}
void MailTransport::SetProxyType(ProxyTypeCode type) {
  proxy_.type = IsProxyTypeCode(type) ? type : ProxyNone;
}
void MailTransport::SetProxyHost(const std::string& host) { proxy_.host = host; }
void MailTransport::SetProxyPort(int port) {
  proxy_.port = static_cast<std::uint16_t>(std::clamp(port, 1, 65535));
}
void MailTransport::SetProxyUser(const std::string& user) { proxy_.user = user; }
void MailTransport::SetProxyPassword(const std::string& password) { proxy_.password = password; }
void MailTransport::SetRelayHost(const std::string& host) { relay_.host = host; }
void MailTransport::SetRelayLogin(const std::string& user, const std::string& password,
                                  RelaySecurityMode security) {
  relay_.user = user;
  relay_.password = password;
  relay_.tls = security;
}
void MailTransport::SetTimeouts(const TransportTimeouts& timeouts) {
  timeouts_ = timeouts;
  resolver_.reset();
}

// Each form of the wire bytes is made once per Send, when the first session asks for it, and
// shared by every session without a copy.
void MailTransport::PrepareWire() {
  eightBit_ = HasEightBitText(headers_) || HasEightBitText(body_);
  wire_.reset();
  sevenBit_.reset();
  sevenBitError_.clear();
}

// The mail for a session: as it is, or, for a server without 8BITMIME, its 7-bit form.
SmtpMail MailTransport::MailFor(const SmtpSession& session) {
  SmtpMail mail{reversePath_, {}, nullptr, eightBit_, {}, probe_};
  if (probe_) {
    mail.eightBit = false;  // nothing of the text goes out
    return mail;
  }
  if (eightBit_ && !session.capabilities().eightBitMime) {
    if (!sevenBit_ && sevenBitError_.empty()) {
      WireData wire = PrepareSevenBitWireData(headers_, body_, sevenBitError_);
      if (sevenBitError_.empty())
        sevenBit_ = std::make_shared<const std::string>(std::move(wire.bytes));
    }
    if (sevenBit_) {
      transcript_.Note("the server offers no 8BITMIME: the 8-bit text goes as quoted-printable");
      mail.data = sevenBit_;
      mail.eightBit = false;
      return mail;
    }
    mail.noSevenBit = sevenBitError_;  // the session refuses it: no bytes needed
    return mail;
  }
  if (!wire_) {
    WireData wire = wholeText_ ? PrepareWireData(mailText_) : PrepareWireData(headers_, body_);
    wire_ = std::make_shared<const std::string>(std::move(wire.bytes));
  }
  mail.data = wire_;
  return mail;
}

void MailTransport::Settle(Recipient& r, RecipientOutcome outcome, const std::string& reply,
                           std::int32_t condition) {
  r.outcome = outcome;
  r.reply = reply;
  r.condition = condition;
  if (outcome != RecipientOutcome::Served) resultCondition_ = condition;
}

bool MailTransport::Send(const std::string& senderHostName) {
  transcript_.Clear();
  recipients_.clear();
  served_.clear();
  refused_.clear();
  resultMessage_.clear();
  resultCondition_ = kConditionNone;
  untried_ = false;
  CloseIdleSessions();
  if (!loaded_) {
    resultCondition_ = kConditionNoMail;
    resultMessage_ = "No mail to send.";
    transcript_.Note(resultMessage_);
    return false;
  }
  for (const RecipientGroup& group : GroupRecipientItems(recipientList_)) {
    recipients_.push_back({group.items, group.address, RecipientOutcome::Pending, "", 0});
    if (!group.error.empty())
      Settle(recipients_.back(), RecipientOutcome::Permanent, group.error,
             kConditionInvalidAddress);
  }
  if (recipients_.empty()) {
    resultCondition_ = kConditionNoMail;
    resultMessage_ = "No recipients.";
    transcript_.Note(resultMessage_);
    return false;
  }
  reversePath_ = returnMail_ ? "" : ExtractMailbox(from_);
  PrepareWire();
  if (!returnMail_ && reversePath_.empty()) {
    for (Recipient& r : recipients_)
      if (r.outcome == RecipientOutcome::Pending)
        Settle(r, RecipientOutcome::Permanent, "invalid sender address: " + from_,
               kConditionInvalidAddress);
  }
  if (returnMail_) transcript_.Note("return mail: sent with the null reverse path MAIL FROM:<>");
  const std::string heloName = ValidHeloName(senderHostName);
  for (const Route& route : BuildRoutes()) DeliverRoute(route, heloName);
  wire_.reset();  // the sessions hold no reference between mails
  sevenBit_.reset();
  FinishResults();
  return std::all_of(recipients_.begin(), recipients_.end(), [](const Recipient& r) {
    return r.outcome == RecipientOutcome::Served;
  });
}

std::vector<Route> MailTransport::BuildRoutes() const {
  std::vector<PendingRecipient> pending;
  for (std::size_t i = 0; i < recipients_.size(); ++i)
    if (recipients_[i].outcome == RecipientOutcome::Pending)
      pending.push_back({i, recipients_[i].address});
  return PlanRoutes(pending, relay_.host);
}

void MailTransport::SettlePending(const Route& route, RecipientOutcome outcome,
                                  const std::string& reply, std::int32_t condition) {
  for (std::size_t i : route.members)
    if (recipients_[i].outcome == RecipientOutcome::Pending)
      Settle(recipients_[i], outcome, reply, condition);
}

void MailTransport::DeliverRoute(const Route& route, const std::string& heloName) {
  transcript_.Note((route.relay ? "relay " : "domain ") + route.domain);
  DnsResolver& resolver = Resolver();
  if (!resolver.initError().empty() && !(route.relay && IsIpLiteral(route.domain))) {
    transcript_.Note("DNS: " + resolver.initError());
  }
  const RouteHosts hosts = HostsOfRoute(route, relay_, resolver, transcript_);
  if (!hosts.found) return SettlePending(route, hosts.outcome, hosts.reply, hosts.condition);
  const SessionAttempt attempt = TryHosts(
      hosts.hosts, route.relay, proxy_, resolver, transcript_,
      [&](const std::string& address, std::uint16_t port, const std::string& host) {
        return DeliverToAddress(route, address, port, host, heloName);
      });
  if (!attempt.delivered)
    SettlePending(route, RecipientOutcome::Temporary, attempt.error, attempt.condition);
}

std::unique_ptr<Connection> MailTransport::Connect(const std::string& address,
                                                   std::uint16_t port, NetError& error) {
  return Connection::Open(address, port, proxy_, timeouts_.connect, transcript_, error);
}

// Runs the route's pending recipients as one mail on a ready session and settles each of them;
// nothing is settled when a reused session turned out stale.
bool MailTransport::RunRouteMail(LiveSession& live, const Route& route, bool reused) {
  SmtpMail mail = MailFor(*live.session);
  std::vector<std::size_t> members;
  for (std::size_t i : route.members)
    if (recipients_[i].outcome == RecipientOutcome::Pending) {
      members.push_back(i);
      mail.recipients.push_back(recipients_[i].address);
    }
  if (!RunMail(live, std::move(mail), reused)) return false;
  const auto& results = live.session->recipients();
  for (std::size_t k = 0; k < members.size() && k < results.size(); ++k)
    Settle(recipients_[members[k]], FinalOutcome(results[k].outcome), results[k].reply,
           ConditionOfRecipient(results[k], live.session->failure()));
  return true;
}

SessionAttempt MailTransport::DeliverToAddress(const Route& route, const std::string& address,
                                               std::uint16_t port, const std::string& tlsName,
                                               const std::string& heloName) {
  SmtpSessionOptions base;
  base.heloName = heloName;
  base.replyTimeout = timeouts_.reply;
  base.finalReplyTimeout = timeouts_.finalReply;
  SessionTarget target{address, port, tlsName, SessionOptionsFor(route, relay_, base)};
  const std::string key = SessionKey({address, port}, target.options, proxy_);
  return RunOnSession(
      *sessions_, key, std::move(target),
      [this](const std::string& a, std::uint16_t p, NetError& e) { return Connect(a, p, e); },
      [&](LiveSession& live, bool reused) { return RunRouteMail(live, route, reused); },
      transcript_);
}

void MailTransport::CloseIdleSessions() { sessions_->CloseIdle(timeouts_.sessionIdle); }

void MailTransport::CloseAllSessions() { sessions_->CloseAll(); }

void MailTransport::FinishResults() {
  untried_ = std::all_of(recipients_.begin(), recipients_.end(), [](const Recipient& r) {
    return r.outcome == RecipientOutcome::Temporary && r.condition == kConditionHostResting;
  });
  std::string summary;
  for (const Recipient& r : recipients_) {
    const std::string name = r.address.empty() ? RecipientText(r.items) : r.address;
    if (r.outcome == RecipientOutcome::Served || r.outcome == RecipientOutcome::Permanent) {
      std::string& list = r.outcome == RecipientOutcome::Served ? served_ : refused_;
      if (!list.empty()) list += '\0';
      list += name + "\t" + r.reply;
    }
    if (r.outcome == RecipientOutcome::Served) {
      summary = "served";
    } else {
      resultMessage_ += name + ": " + r.reply + "\r\n";
      summary = r.outcome == RecipientOutcome::Permanent ? "failed permanently" : "failed for now";
    }
    transcript_.Note(name + ": " + summary + " (" + r.reply + ")");
  }
}

}  // namespace pv
