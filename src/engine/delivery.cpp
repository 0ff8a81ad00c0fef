#include "engine/delivery.h"

#include <exception>
#include <functional>

#include "engine/comma_list.h"
#include "support/server_address.h"
#include "support/text.h"

namespace pv {

namespace {

constexpr std::int32_t kDefaultProxyPort = 1080;

std::string WithoutCrLf(std::string text) {
  for (auto pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n"))
    text.erase(pos, 2);
  return text;
}

void ReportFailure(const std::string& recipients, const DeliveryContext& c) {
  MailTransport& t = c.transport;
  LastExitCode = kExitTransportFailed;
  const std::string condition = std::to_string(t.GetResultCondition());
  std::string message = t.GetResultMessage();
  if (WithoutCrLf(message).empty()) message = "Result message is empty. Result condition #" + condition;
  std::string protocol = t.GetResultProtocol();
  if (WithoutCrLf(protocol).empty())
    protocol = "Result protocol is empty. Result condition #" + condition;
  c.reporter.ReportResult(kResultError, c.from, recipients, c.subject, kExitTransportFailed,
                          message, protocol);
}

}  // namespace

std::string ServedItemsOf(const std::string& servedEntries) {
  std::string served;
  if (servedEntries.empty()) return served;
  for (std::string_view entry : SplitAt(servedEntries, std::string_view("\0", 1)))
    if (!entry.empty()) served = AppendListItem(served, ", ", entry.substr(0, entry.find('\t')));
  return served;
}

void ConfigureTransport(MailTransport& transport, const SpoolerSettings& settings) {
  transport.SetDnsServers(settings.EffectiveDNSServers);
  ServerAddress proxy;
  ParseServerAddress(settings.ProxyServer, proxy, kDefaultProxyPort);
  transport.SetProxyType(settings.ProxyType);
  transport.SetProxyUser(settings.ProxyUser);
  transport.SetProxyHost(proxy.host);
  transport.SetProxyPort(proxy.port);
  transport.SetProxyPassword(settings.ProxyPassword);
  transport.SetRelayHost(settings.RelayHostName);
  transport.SetRelayLogin(settings.RelayUser, settings.RelayPassword, settings.RelaySecurity);
}

namespace {

bool LoadAndDeliver(const std::string& recipients, const std::function<void(MailTransport&)>& load,
                    std::string& protocol, std::string& served, const DeliveryContext& c,
                    std::string* refused) {
  protocol.clear();
  served.clear();
  if (refused != nullptr) refused->clear();
  bool ok = false;
  try {
    MailTransport& t = c.transport;
    t.ResetMail();
    load(t);
    t.SetReturnMail(c.returnMail);
    ConfigureTransport(t, c.settings);
    ok = t.Send(c.settings.SenderHostName);
    protocol = t.GetResultProtocol();
    served = ServedItemsOf(t.GetServedRecipients());
    if (refused != nullptr) *refused = t.GetRefusedRecipients();
    if (ok) {
      LastExitCode = kExitDelivered;
      c.reporter.ReportResult(kResultSuccess, c.from, served, c.subject, kExitDelivered,
                              "eMail to '" + served + "' successfully sent.", "");
    } else if (!t.Untried()) {
      ReportFailure(recipients, c);
    }  // else no server was asked: nothing happened that a log should show
  } catch (const std::exception& error) {
    // The attempt counts as failed and is repeated later, whatever Send said.
    LastExitCode = kExitDeliveryError;
    c.reporter.ReportResult(kResultError, c.from, recipients, c.subject, kExitDeliveryError,
                            "Error: '" + std::string(error.what()) + "'. Cmd: " + c.commandLine,
                            "");
    ok = false;
  }
  // The loaded mail may be views into the caller's text: nothing of it outlives the attempt.
  c.transport.ResetMail();
  return ok;
}

}  // namespace

bool DeliverMail(const std::string& recipients, const std::string& mailText,
                 std::string& protocol, std::string& served, const DeliveryContext& c,
                 std::string* refused) {
  return LoadAndDeliver(
      recipients, [&](MailTransport& t) { t.LoadMail(mailText, c.from, recipients); }, protocol,
      served, c, refused);
}

bool DeliverMailParts(const std::string& recipients, std::string_view headers,
                      std::string_view body, std::string& protocol, std::string& served,
                      const DeliveryContext& c, std::string* refused) {
  return LoadAndDeliver(
      recipients, [&](MailTransport& t) { t.LoadMailParts(headers, body, c.from, recipients); },
      protocol, served, c, refused);
}

}  // namespace pv
