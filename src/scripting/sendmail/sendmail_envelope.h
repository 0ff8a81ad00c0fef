#pragma once
// Who receives a mail given to `sendmail`, written into the header that the spool engine
// reads: a spool file has no envelope of its own, the engine sends to every address of To,
// Cc and Bcc (never sending the Bcc line) less those in X-pvx-SuccessAddresses.
//
// With -t the header's To, Cc and Bcc are the recipients, and argument recipients are added.
// Without -t the arguments are the recipients: those not in the header are added to Bcc, and
// header addresses not among them are marked served, so the engine skips them. Recipients
// are compared by address (the local part exact, the domain without regard to case). A mail
// left without To gets "To: undisclosed-recipients:;", marked served.
//
// Bare local names (cron's "root") become addresses first: a recipient becomes the
// addresses of LocalRecipientsTo, or name@SenderHostName when that is empty; a sender
// becomes name@SenderHostName.
#include <string>
#include <string_view>
#include <vector>

namespace pv {

struct LocalNames {
  std::string senderHostName;     // the domain of bare names
  std::string localRecipientsTo;  // "" or the comma list that receives mail for bare names
};

// An address list rewritten as one line ("a@x.example, Name <b@y.example>"), or why not.
struct AddressList {
  std::string value;
  std::string error;
  bool ok() const { return error.empty(); }
};

AddressList QualifyRecipients(std::string_view list, const LocalNames& names);
AddressList QualifySenders(std::string_view list, const LocalNames& names);

// The recipient headers of the mail as it came (values of To, Cc and Bcc, "" when absent).
struct RecipientHeaders {
  std::string to, cc, bcc;
};

inline constexpr std::string_view kUndisclosedRecipients = "undisclosed-recipients:;";

struct Envelope {
  std::string to, cc, bcc;  // the header values to write; "" leaves the header out
  std::string served;       // the value of X-pvx-SuccessAddresses; "" leaves it out
  std::string error;        // "" when the mail has recipients
  bool usageError = false;  // the error lies in the arguments, not in the mail
  bool ok() const { return error.empty(); }
};

Envelope MapEnvelope(const RecipientHeaders& headers, const std::vector<std::string>& arguments,
                     bool recipientsFromHeaders, const LocalNames& names);

}  // namespace pv
