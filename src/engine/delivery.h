#pragma once
// One delivery attempt of one mail through the mail transport, reported as a result.
#include <string>
#include <string_view>

#include "reporting_api/result_reporter.h"
#include "settings/spooler_settings.h"
#include "transport/mail_transport.h"

namespace pv {

struct DeliveryContext {
  MailTransport& transport;
  const SpoolerSettings& settings;
  ResultReporter& reporter;
  std::string from;         // the mail's From value
  std::string subject;      // the mail's Subject value
  std::string commandLine;  // the program's arguments, for the report of an unexpected error
  bool returnMail = false;  // the mail is a return mail (X-pvx-IsReturnMail)
};

// Delivers mailText to the comma list of recipients. protocol receives the transport's
// protocol, served the comma list of the addresses served (on success and failure alike),
// refused (when given) the transport's entries of the recipients refused for good.
// True when the mail was delivered to every recipient. Every attempt is reported, except one
// that asked no server (MailTransport::Untried): the mail only waits.
bool DeliverMail(const std::string& recipients, const std::string& mailText,
                 std::string& protocol, std::string& served, const DeliveryContext& context,
                 std::string* refused = nullptr);
// The same for a mail given as its header block (the headers that are sent, without the empty
// line after them) and its body, without copying either: both views stay valid meanwhile.
bool DeliverMailParts(const std::string& recipients, std::string_view headers,
                      std::string_view body, std::string& protocol, std::string& served,
                      const DeliveryContext& context, std::string* refused = nullptr);

// The served list of the transport ("address TAB reply", entries separated by character 0) as
// a comma list of the addresses ("a@x.example, b@y.example").
std::string ServedItemsOf(const std::string& servedEntries);

// Applies the delivery settings to the transport.
void ConfigureTransport(MailTransport& transport, const SpoolerSettings& settings);

}  // namespace pv
