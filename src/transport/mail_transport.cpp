#include "transport/mail_transport.h"

#include <algorithm>
#include <cstdlib>
#include <arpa/inet.h>
#include <map>

#include "transport/recipients.h"
#include "support/text.h"
#include "transport/dns.h"
#include "transport/smtp_reply.h"
#include "transport/wire_data.h"

namespace pv {

struct MailTransport::Recipient {
  std::vector<std::string> items;  // the comma-list items it came from, as given
  std::string address;             // "" when the items hold no valid address
  RecipientOutcome outcome = RecipientOutcome::Pending;
  std::string reply;
};

struct MailTransport::Route {
  std::string domain;  // the recipients' domain, or the relay host
  bool relay = false;
  std::vector<std::size_t> members;  // indexes into recipients_
};

struct MailTransport::CachedSession {
  std::string key;
  std::string tlsName;
  std::unique_ptr<Connection> connection;
  std::unique_ptr<SmtpSession> session;
  SmtpReplyReader reader;
  std::chrono::steady_clock::time_point lastUsed;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kQuitWait{std::chrono::seconds(10)};
constexpr std::size_t kMaxCachedSessions = 16;

bool IsIpLiteral(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

bool IsIpv4Literal(const std::string& host) {
  unsigned char buffer[4];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1;
}

// host, host:port or [IPv6]:port.
void SplitRelayHost(const std::string& relay, std::string& host, std::uint16_t& port,
                    std::uint16_t defaultPort) {
  std::string_view text = Trim(relay);
  port = defaultPort;
  std::string_view portText;
  if (text.starts_with('[') && text.find(']') != std::string_view::npos) {
    const auto close = text.find(']');
    host = std::string(text.substr(1, close - 1));
    if (text.substr(close + 1).starts_with(':')) portText = text.substr(close + 2);
  } else if (text.find(':') != std::string_view::npos &&
             text.find(':') == text.rfind(':')) {
    host = std::string(Trim(text.substr(0, text.find(':'))));
    portText = text.substr(text.find(':') + 1);
  } else {
    host = std::string(text);  // a bare IPv6 address or a name
  }
  const std::string digits(Trim(portText));
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
      digits.size() <= 5 && std::stoi(digits) >= 1 && std::stoi(digits) <= 65535)
    port = static_cast<std::uint16_t>(std::stoi(digits));
}

// Whether the header block marks the mail as a return mail ("X-pvx-IsReturnMail: 1").
bool IsReturnMail(std::string_view mail) {
  const std::string_view header = mail.substr(0, mail.find("\r\n\r\n"));
  for (const std::string& line : Split(header, '\n')) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (!EqualsNoCase(Trim(line.substr(0, colon)), "x-pvx-isreturnmail")) continue;
    const std::string value(Trim(std::string_view(line).substr(colon + 1)));
    return std::strtol(value.c_str(), nullptr, 10) != 0;
  }
  return false;
}

std::string ValidHeloName(const std::string& name) {
  const std::string_view trimmed = Trim(name);
  const bool ok = !trimmed.empty() &&
                  std::all_of(trimmed.begin(), trimmed.end(), [](char c) {
                    return c > 32 && c < 127 && c != '<' && c != '>';
                  });
  return ok ? std::string(trimmed) : "localhost.localdomain";
}

TlsMode TlsModeOf(RelayTls security) {
  switch (security) {
    case RelayTls::StartTls: return TlsMode::Required;
    case RelayTls::Tls: return TlsMode::Implicit;
    case RelayTls::None: return TlsMode::Off;
    case RelayTls::Auto: break;
  }
  return TlsMode::Opportunistic;
}

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

bool IsServerReply(const std::string& reply) {
  return reply.size() >= 3 && reply[0] >= '2' && reply[0] <= '5';
}

}  // namespace

MailTransport::MailTransport() = default;

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

// One resolver for as long as the servers and the timeout stay the same.
DnsResolver& MailTransport::Resolver() {
  if (!resolver_) resolver_ = std::make_unique<DnsResolver>(dnsServers_, timeouts_.dns);
  return *resolver_;
}
void MailTransport::SetProxyType(int type) { proxy_.type = (type >= 0 && type <= 3) ? type : 0; }
void MailTransport::SetProxyHost(const std::string& host) { proxy_.host = host; }
void MailTransport::SetProxyPort(int port) {
  proxy_.port = static_cast<std::uint16_t>(std::clamp(port, 1, 65535));
}
void MailTransport::SetProxyUser(const std::string& user) { proxy_.user = user; }
void MailTransport::SetProxyPassword(const std::string& password) { proxy_.password = password; }
void MailTransport::SetRelayHost(const std::string& host) { relayHost_ = host; }
void MailTransport::SetRelayLogin(const std::string& user, const std::string& password,
                                  RelayTls security) {
  relayUser_ = user;
  relayPassword_ = password;
  relayTls_ = security;
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
  SmtpMail mail{reversePath_, {}, nullptr, eightBit_, {}};
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
  if (outcome != RecipientOutcome::Served) resultCondition_ = condition;
}

// What the session driver works with: the session and its connection and reply reader.
struct SessionDriver {
  Connection& connection;
  SmtpSession& session;
  SmtpReplyReader& reader;
  std::string tlsName;
  bool verifyTls;
  std::chrono::milliseconds writeTimeout;
  std::chrono::milliseconds maxWait = std::chrono::milliseconds::max();
};

namespace {

SmtpSession::Action ReadNext(SessionDriver& d) {
  SmtpReply reply;
  std::string error;
  for (;;) {
    switch (d.reader.Next(reply, error)) {
      case SmtpReplyReader::Status::Reply: return d.session.OnReply(reply);
      case SmtpReplyReader::Status::Error: return d.session.OnProtocolError(error);
      case SmtpReplyReader::Status::NeedMore: break;
    }
    std::string bytes;
    const NetError e = d.connection.Read(bytes, std::min(d.session.replyTimeout(), d.maxWait));
    if (e.kind == NetError::Kind::Timeout) return d.session.OnTimeout();
    if (e) return d.session.OnConnectionLost(e.text);
    d.reader.Feed(bytes);
  }
}

SmtpSession::Action StartTls(SessionDriver& d) {
  // Bytes that came with the STARTTLS reply would be taken as if they came over TLS.
  if (d.reader.HasPendingBytes()) return d.session.OnProtocolError("data after the STARTTLS reply");
  const NetError e = d.connection.StartTls(d.tlsName, d.verifyTls, d.writeTimeout);
  if (e) return d.session.OnTlsFailed(e.text);
  return d.session.OnTlsEstablished(d.connection.tlsDescription());
}

NetError WriteAction(SessionDriver& d, const SmtpSession::Action& action) {
  if (!action.bytes.empty())
    if (NetError e = d.connection.Write(action.bytes, d.writeTimeout)) return e;
  if (action.data && !action.data->empty()) return d.connection.Write(*action.data, d.writeTimeout);
  return {};
}

// Does what the session asks until it is ready for a mail or over.
SmtpSession::Action Drive(SessionDriver& d, SmtpSession::Action action) {
  for (;;) {
    switch (action.kind) {
      case SmtpSession::ActionKind::Send:
        if (const NetError e = WriteAction(d, action)) {
          action = d.session.OnConnectionLost(e.text);
          break;
        }
        action = ReadNext(d);
        break;
      case SmtpSession::ActionKind::StartTls: action = StartTls(d); break;
      case SmtpSession::ActionKind::Ready:
      case SmtpSession::ActionKind::Close: return action;
    }
  }
}

}  // namespace

bool MailTransport::Send(const std::string& senderHostName) {
  transcript_.Clear();
  recipients_.clear();
  served_.clear();
  refused_.clear();
  resultMessage_.clear();
  resultCondition_ = kConditionNone;
  CloseIdleSessions();
  if (!loaded_) {
    resultCondition_ = kConditionNoMail;
    resultMessage_ = "No mail to send.";
    transcript_.Note(resultMessage_);
    return false;
  }
  for (const RecipientGroup& group : GroupRecipientItems(recipientList_)) {
    recipients_.push_back({group.items, group.address, RecipientOutcome::Pending, ""});
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
  const bool returnMail = IsReturnMail(headers_);
  reversePath_ = returnMail ? "" : ExtractMailbox(from_);
  PrepareWire();
  if (!returnMail && reversePath_.empty()) {
    for (Recipient& r : recipients_)
      if (r.outcome == RecipientOutcome::Pending)
        Settle(r, RecipientOutcome::Permanent, "invalid sender address: " + from_,
               kConditionInvalidAddress);
  }
  if (returnMail) transcript_.Note("return mail: sent with the null reverse path MAIL FROM:<>");
  const std::string heloName = ValidHeloName(senderHostName);
  for (const Route& route : BuildRoutes()) DeliverRoute(route, heloName);
  wire_.reset();  // the sessions hold no reference between mails
  sevenBit_.reset();
  FinishResults();
  return std::all_of(recipients_.begin(), recipients_.end(), [](const Recipient& r) {
    return r.outcome == RecipientOutcome::Served;
  });
}

std::vector<MailTransport::Route> MailTransport::BuildRoutes() const {
  std::vector<Route> routes;
  std::map<std::string, std::size_t> byDomain;
  for (std::size_t i = 0; i < recipients_.size(); ++i) {
    if (recipients_[i].outcome != RecipientOutcome::Pending) continue;
    const std::string domain =
        relayHost_.empty() ? DomainOfAddress(recipients_[i].address) : relayHost_;
    auto [it, added] = byDomain.emplace(domain, routes.size());
    if (added) routes.push_back({domain, !relayHost_.empty(), {}});
    routes[it->second].members.push_back(i);
  }
  return routes;
}

void MailTransport::SettlePending(const Route& route, RecipientOutcome outcome,
                                  const std::string& reply, std::int32_t condition) {
  for (std::size_t i : route.members)
    if (recipients_[i].outcome == RecipientOutcome::Pending)
      Settle(recipients_[i], outcome, reply, condition);
}

// The hosts to try for a route, in order: (host name, port); the relay is one host.
bool MailTransport::RouteHosts(const Route& route, DnsResolver& resolver,
                               std::vector<std::pair<std::string, std::uint16_t>>& hosts) {
  if (route.relay) {
    std::string host;
    std::uint16_t port = 25;
    SplitRelayHost(route.domain, host, port, relayTls_ == RelayTls::Tls ? 465 : 25);
    hosts.emplace_back(host, port);
    return true;
  }
  const MxAnswer mx = resolver.LookupMx(route.domain);
  transcript_.Note(mx.text);
  switch (mx.status) {
    case DnsStatus::Ok:
      for (const MxHost& host : mx.hosts) hosts.emplace_back(host.name, 25);
      return true;
    case DnsStatus::NoData:
      transcript_.Note("no MX for " + route.domain + ": its own address is the mail exchanger");
      hosts.emplace_back(route.domain, 25);
      return true;
    case DnsStatus::NotFound:
      SettlePending(route, RecipientOutcome::Permanent,
                    "domain " + route.domain + " does not exist (" + mx.text + ")",
                    kConditionDnsPermanent);
      return false;
    case DnsStatus::NullMx:
      SettlePending(route, RecipientOutcome::Permanent,
                    "domain " + route.domain + " accepts no mail (null MX)", kConditionDnsPermanent);
      return false;
    case DnsStatus::TempFail: break;
  }
  SettlePending(route, RecipientOutcome::Temporary, "DNS: " + mx.text, kConditionDnsTemporary);
  return false;
}

// The addresses to connect to for a host. Through SOCKS5 a relay named by a host name goes to
// the proxy as that name, which the proxy resolves.
std::vector<std::string> MailTransport::HostAddresses(const std::string& host, bool relay,
                                                      DnsResolver& resolver,
                                                      std::string& error) {
  if (IsIpLiteral(host)) return {host};
  if (relay && (proxy_.type == 2 || proxy_.type == 3)) return {host};
  const AddressAnswer answer = resolver.LookupAddresses(host);
  transcript_.Note(answer.text);
  if (answer.status != DnsStatus::Ok) error = "DNS: " + answer.text;
  std::vector<std::string> addresses;
  for (const std::string& address : answer.addresses)
    if (proxy_.type != 1 || IsIpv4Literal(address)) addresses.push_back(address);
  if (addresses.empty() && error.empty()) error = "no usable address for " + host;
  return addresses;
}

void MailTransport::DeliverRoute(const Route& route, const std::string& heloName) {
  transcript_.Note((route.relay ? "relay " : "domain ") + route.domain);
  DnsResolver& resolver = Resolver();
  if (!resolver.initError().empty() && !(route.relay && IsIpLiteral(route.domain))) {
    transcript_.Note("DNS: " + resolver.initError());
  }
  std::vector<std::pair<std::string, std::uint16_t>> hosts;
  if (!RouteHosts(route, resolver, hosts)) return;
  std::string lastError = "no mail exchanger could be reached";
  std::int32_t lastCondition = kConditionConnection;
  for (const auto& [host, port] : hosts) {
    std::string dnsError;
    const std::vector<std::string> addresses = HostAddresses(host, route.relay, resolver, dnsError);
    if (!dnsError.empty()) {
      lastError = dnsError;
      lastCondition = kConditionDnsTemporary;
    }
    for (const std::string& address : addresses)
      if (DeliverToAddress(route, address, port, host, heloName, lastError, lastCondition)) return;
  }
  SettlePending(route, RecipientOutcome::Temporary, lastError, lastCondition);
}

std::string MailTransport::SessionKey(const std::string& address, std::uint16_t port,
                                      TlsMode mode, const std::string& heloName,
                                      bool relay) const {
  return address + "|" + std::to_string(port) + "|" + std::to_string(static_cast<int>(mode)) +
         "|" + heloName + "|" + std::to_string(proxy_.type) + "|" + proxy_.host + "|" +
         std::to_string(proxy_.port) + "|" + proxy_.user + "|" + (relay ? relayUser_ : "");
}

// Opens a connection and runs the session up to the point where it can take a mail. Null
// when that fails; lastError then says why.
std::unique_ptr<MailTransport::CachedSession> MailTransport::OpenSession(
    const std::string& address, std::uint16_t port, const std::string& tlsName,
    const SmtpSessionOptions& options, std::string& lastError, std::int32_t& lastCondition) {
  auto cached = std::make_unique<CachedSession>();
  cached->tlsName = tlsName;
  NetError error;
  cached->connection = Connection::Open(address, port, proxy_, timeouts_.connect, transcript_, error);
  if (!cached->connection) {
    lastError = error.text;
    lastCondition = ConditionOfNetError(error);
    return nullptr;
  }
  if (options.tls == TlsMode::Implicit) {
    if (const NetError e = cached->connection->StartTls(tlsName, true, timeouts_.reply)) {
      transcript_.Note("TLS failed: " + e.text);
      lastError = e.text;
      lastCondition = kConditionTls;
      return nullptr;
    }
    transcript_.Note("TLS: " + cached->connection->tlsDescription());
  }
  cached->session = std::make_unique<SmtpSession>(options, transcript_);
  SessionDriver driver = DriverFor(*cached, options.tls);
  const SmtpSession::Action action = Drive(driver, {SmtpSession::ActionKind::Send, ""});
  if (action.kind == SmtpSession::ActionKind::Ready) return cached;
  lastError = cached->session->failureText();
  lastCondition = ConditionOfFailure(cached->session->failure());
  if (cached->session->plainRetryAdvised()) lastCondition = -1;  // see DeliverToAddress
  return nullptr;
}

SessionDriver MailTransport::DriverFor(CachedSession& cached, TlsMode mode) const {
  return SessionDriver{*cached.connection, *cached.session, cached.reader, cached.tlsName,
                mode == TlsMode::Required || mode == TlsMode::Implicit, timeouts_.reply};
}

// Runs the route's pending recipients as one mail on a ready session and settles each of them.
// False when the session broke before any server answer about the mail (a stale reused
// session): nothing is settled then.
bool MailTransport::RunMail(CachedSession& cached, const Route& route, TlsMode mode,
                            bool reused) {
  SmtpMail mail = MailFor(*cached.session);
  std::vector<std::size_t> members;
  for (std::size_t i : route.members)
    if (recipients_[i].outcome == RecipientOutcome::Pending) {
      members.push_back(i);
      mail.recipients.push_back(recipients_[i].address);
    }
  SessionDriver driver = DriverFor(cached, mode);
  Drive(driver, cached.session->StartMail(std::move(mail)));
  const auto& results = cached.session->recipients();
  if (reused && !cached.session->mailAnswered() && cached.session->over()) return false;
  for (std::size_t k = 0; k < members.size() && k < results.size(); ++k) {
    const RecipientOutcome outcome = results[k].outcome == RecipientOutcome::Pending
                                         ? RecipientOutcome::Temporary
                                         : results[k].outcome;
    const std::int32_t condition =
        !IsServerReply(results[k].reply) ? ConditionOfFailure(cached.session->failure())
        : outcome == RecipientOutcome::Permanent ? kConditionRecipientPermanent
                                                 : kConditionRecipientTemporary;
    Settle(recipients_[members[k]], outcome, results[k].reply, condition);
  }
  return true;
}

bool MailTransport::DeliverToAddress(const Route& route, const std::string& address,
                                     std::uint16_t port, const std::string& tlsName,
                                     const std::string& heloName, std::string& lastError,
                                     std::int32_t& lastCondition) {
  TlsMode mode = route.relay ? TlsModeOf(relayTls_) : TlsMode::Opportunistic;
  SmtpSessionOptions options{heloName, mode, route.relay ? relayUser_ : "",
                             route.relay ? relayPassword_ : "", timeouts_.reply,
                             timeouts_.finalReply};
  const std::string key = SessionKey(address, port, mode, heloName, route.relay);
  if (std::unique_ptr<CachedSession> cached = TakeCachedSession(key)) {
    transcript_.Note("reusing the open session with " + cached->connection->peer());
    if (RunMail(*cached, route, mode, true)) {
      KeepSession(std::move(cached));
      return true;
    }
    transcript_.Note("the open session was closed by the server; connecting anew");
  }
  std::unique_ptr<CachedSession> fresh =
      OpenSession(address, port, tlsName, options, lastError, lastCondition);
  if (!fresh && lastCondition == -1) {
    // Opportunistic TLS failed in the handshake: the same host once more without TLS.
    transcript_.Note("TLS handshake failed; trying " + address + " again without TLS");
    options.tls = mode = TlsMode::Off;
    lastCondition = kConditionTls;
    fresh = OpenSession(address, port, tlsName, options, lastError, lastCondition);
  }
  if (!fresh) return false;
  // Under the key it was looked up by: after a failed handshake the plain session is the one
  // that the next mail to this host takes.
  fresh->key = key;
  RunMail(*fresh, route, mode, false);
  KeepSession(std::move(fresh));
  return true;
}

std::unique_ptr<MailTransport::CachedSession> MailTransport::TakeCachedSession(
    const std::string& key) {
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
    if ((*it)->key != key) continue;
    std::unique_ptr<CachedSession> cached = std::move(*it);
    sessions_.erase(it);
    if (cached->session->ready()) return cached;
    return nullptr;
  }
  return nullptr;
}

void MailTransport::KeepSession(std::unique_ptr<CachedSession> cached) {
  if (!cached->session->ready()) return;
  cached->lastUsed = Clock::now();
  sessions_.push_back(std::move(cached));
  if (sessions_.size() > kMaxCachedSessions) {
    QuitSession(*sessions_.front());
    sessions_.erase(sessions_.begin());
  }
}

void MailTransport::QuitSession(CachedSession& cached) {
  SessionDriver driver = DriverFor(cached, TlsMode::Off);
  driver.maxWait = kQuitWait;
  Drive(driver, cached.session->Quit());
}

void MailTransport::CloseIdleSessions() {
  const auto now = Clock::now();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - (*it)->lastUsed < timeouts_.sessionIdle) {
      ++it;
      continue;
    }
    QuitSession(**it);
    it = sessions_.erase(it);
  }
}

void MailTransport::CloseAllSessions() {
  for (auto& cached : sessions_) QuitSession(*cached);
  sessions_.clear();
}

void MailTransport::FinishResults() {
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
