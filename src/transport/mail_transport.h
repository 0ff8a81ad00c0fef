#pragma once
// The mail transport: composes mails and spool files, and delivers a loaded mail by SMTP,
// straight to the recipients' mail exchangers or through a relay host, optionally through a
// SOCKS proxy. Sessions stay open between the mails of one spool run (RSET between mails) and
// are closed with QUIT when the run ends or after a few idle seconds. Concurrent deliveries
// each have a transport of their own (NewLane) that shares the kept sessions and the limits.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/connection.h"
#include "transport/mail_composer.h"
#include "transport/result_condition.h"
#include "transport/route_plan.h"
#include "transport/session_cache.h"
#include "transport/smtp_session.h"
#include "transport/transcript.h"

namespace pv {

class DnsResolver;

struct TransportTimeouts {
  std::chrono::milliseconds connect{std::chrono::seconds(30)};
  std::chrono::milliseconds reply{std::chrono::minutes(5)};
  std::chrono::milliseconds finalReply{std::chrono::minutes(10)};
  std::chrono::milliseconds dns{std::chrono::seconds(15)};
  std::chrono::milliseconds sessionIdle{std::chrono::seconds(5)};
};

class MailTransport {
 public:
  MailTransport();
  ~MailTransport();
  // A transport for one more concurrent delivery: its own mail, protocol and DNS resolver;
  // this one's timeouts, kept sessions and connection limits.
  std::unique_ptr<MailTransport> NewLane() const;
  MailTransport(const MailTransport&) = delete;
  MailTransport& operator=(const MailTransport&) = delete;

  // ---- Composing ----
  bool NewMail(const std::string& subject, const std::string& from, const std::string& to,
               const std::string& body);
  bool AddHeader(const std::string& name, const std::string& value);
  bool AddTextAttachment(const std::string& text, const std::string& attachmentName);
  bool AddFileAttachment(const std::string& path, const std::string& attachmentName);
  bool AddBytesAttachment(const std::string& content, const std::string& attachmentName);
  // An existing file at path is kept (the call fails) unless replace is set.
  bool SpoolToFile(const std::string& path, bool replace = false);
  // Forgets the composed and the loaded mail.
  bool ResetMail();
  // Takes a complete mail (CR LF text as read from a spool file), its From value and the
  // recipients as a comma list.
  bool LoadMail(const std::string& mailText, const std::string& from,
                const std::string& recipients);
  // The same without a copy: the header block (without the empty line after it) and the body
  // are views that must stay valid until Send returns.
  bool LoadMailParts(std::string_view headers, std::string_view body, const std::string& from,
                     const std::string& recipients);
  // The loaded mail is a return mail: it goes with the null reverse path (MAIL FROM:<>), so
  // that its failure is never answered. ResetMail clears the mark.
  void SetReturnMail(bool returnMail) { returnMail_ = returnMail; }
  // Send only asks: EHLO, MAIL, RCPT, RSET along the route, never DATA; a recipient the server
  // accepted counts as served. For tracing a route; the mail's text is never sent.
  void SetProbe(bool probe) { probe_ = probe; }

  // ---- Configuration ----
  void SetDnsServers(const std::string& servers);
  // A code other than the four kinds means no proxy.
  void SetProxyType(ProxyTypeCode type);
  void SetProxyHost(const std::string& host);
  void SetProxyPort(int port);
  void SetProxyUser(const std::string& user);
  void SetProxyPassword(const std::string& password);
  // "" for direct delivery; host, host:port or [IPv6]:port (port 25, 465 for
  // RelaySecurityMode::Tls).
  void SetRelayHost(const std::string& host);
  void SetRelayLogin(const std::string& user, const std::string& password,
                     RelaySecurityMode security);
  void SetTimeouts(const TransportTimeouts& timeouts);
  // For every transport that shares these sessions.
  void SetConnectionLimits(SessionLimits limits) { sessions_->SetLimits(limits); }

  // ---- Delivery ----
  // True when every recipient was served.
  bool Send(const std::string& senderHostName);
  std::string GetResultMessage() const { return resultMessage_; }
  std::string GetResultProtocol() const { return transcript_.text(); }
  std::int32_t GetResultCondition() const { return resultCondition_; }
  // "address TAB reply" per served recipient (one entry per mailbox, however many comma items
  // it took), entries separated by character 0.
  std::string GetServedRecipients() const { return served_; }
  // "address TAB reply" per recipient refused permanently (5yz, an invalid address, a domain
  // that takes no mail) in the last Send, entries separated by character 0; an item without a
  // valid address is named by its text (RecipientText). A recipient that failed only for now
  // is in neither list.
  std::string GetRefusedRecipients() const { return refused_; }
  // The last Send reached no server on the mail's behalf: every recipient not served waits
  // for a host that failed too often in this run. The attempt is better not counted.
  bool Untried() const { return untried_; }

  // QUITs sessions idle longer than the idle timeout, or all of them.
  void CloseIdleSessions();
  void CloseAllSessions();

 private:
  struct Recipient;

  bool ComposerResult(bool ok);
  DnsResolver& Resolver();
  void Settle(Recipient& r, RecipientOutcome outcome, const std::string& reply,
              std::int32_t condition);
  void SettlePending(const Route& route, RecipientOutcome outcome, const std::string& reply,
                     std::int32_t condition);
  std::vector<Route> BuildRoutes() const;
  void DeliverRoute(const Route& route, const std::string& heloName);
  SessionAttempt DeliverToAddress(const Route& route, const std::string& address,
                                  std::uint16_t port, const std::string& tlsName,
                                  const std::string& heloName);
  std::unique_ptr<Connection> Connect(const std::string& address, std::uint16_t port,
                                      NetError& error);
  bool RunRouteMail(LiveSession& live, const Route& route, bool reused);
  void FinishResults();
  void PrepareWire();
  SmtpMail MailFor(const SmtpSession& session);

  MailComposer composer_;
  std::string mailText_;     // the copy LoadMail keeps
  std::string_view headers_;  // the loaded mail's header block and body
  std::string_view body_;
  bool wholeText_ = false;   // loaded as one text: its header block ends at the first empty line
  std::string from_;
  std::string recipientList_;
  bool loaded_ = false;
  bool returnMail_ = false;
  bool probe_ = false;
  std::string reversePath_;  // of the current Send
  // Of the current Send: the wire bytes, and their 7-bit form once a server without 8BITMIME
  // asked for it (or why there is none).
  WireBytes wire_;
  bool eightBit_ = false;
  WireBytes sevenBit_;
  std::string sevenBitError_;

  std::string dnsServers_;
  ProxySettings proxy_;
  RelaySettings relay_;
  TransportTimeouts timeouts_;

  Transcript transcript_;
  std::vector<Recipient> recipients_;
  std::string served_;
  std::string refused_;
  std::string resultMessage_;
  std::int32_t resultCondition_ = kConditionNone;
  bool untried_ = false;
  std::shared_ptr<SessionCache> sessions_ = std::make_shared<SessionCache>();
  // The resolver shared by the transports of one spool run, made anew when the servers or the
  // timeout change; resolver_ is this transport's hold on it.
  struct SharedResolver {
    std::mutex mutex;
    std::string servers;
    std::chrono::milliseconds timeout{};
    std::shared_ptr<DnsResolver> resolver;
  };
  std::shared_ptr<SharedResolver> sharedResolver_ = std::make_shared<SharedResolver>();
  std::shared_ptr<DnsResolver> resolver_;
};

}  // namespace pv
