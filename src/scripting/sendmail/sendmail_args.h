#pragma once
// The command line of `sendmail` as mail programs call it: the options that cron, PHP's
// mail(), mail(1), git send-email and their kind pass, read the way sendmail reads them
// (letters may be grouped, "-fADDR" and "-f ADDR" alike, options end at "--" or at the first
// argument that is not one). Pure: arguments in, options or a usage error out.
#include <string>
#include <vector>

namespace pv {

enum class SendmailMode {
  Submit,     // read a mail from standard input and spool it
  SpoolNow,   // -q: ask the spooler for a run, read nothing
  ListQueue,  // -bp: list the waiting mails
};

struct SendmailOptions {
  SendmailMode mode = SendmailMode::Submit;
  bool recipientsFromHeaders = false;  // -t
  bool dotIsData = false;              // -i, -oi: a line "." does not end the mail
  bool senderGiven = false;            // -f (or -r) was given, possibly empty or "<>"
  std::string sender;                  // -f ADDR, the return address; "" for "<>"
  bool fullNameGiven = false;          // -F was given
  std::string fullName;                // -F NAME, the sender's display name
  std::vector<std::string> recipients; // the arguments after the options, as given
};

struct SendmailArgsResult {
  SendmailOptions options;
  std::string error;  // "" when the arguments are valid; else the usage error's text
  bool ok() const { return error.empty(); }
};

// args are the arguments without the program name.
SendmailArgsResult ParseSendmailArgs(const std::vector<std::string>& args);

}  // namespace pv
