#pragma once
// `sendmail` as one call: the arguments and standard input in, a spool file written through
// the caller's writer, the spooler asked for a run, the process's exit code out.
//
//   pv::SendmailServices services{write, spoolNow, listQueue};
//   return pv::RunSendmail(args, std::cin,
//                          pv::CurrentSendmailContext(hostName, localRecipientsTo),
//                          services, std::cerr);
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "scripting/sendmail/sendmail_submission.h"

namespace pv {

struct SendmailServices {
  // Writes the spool file's bytes, exactly as given, as a new file in the spooler's spool
  // directory; gives 0, or an exit code (73, 75) with the error text.
  std::function<int(std::string_view spoolBytes, std::string& error)> write;
  // Asks the spooler for a run now; false with the error text when it cannot be reached.
  std::function<bool(std::string& error)> spoolNow;
  // Lists the waiting mails (-bp) and gives the exit code; may be empty.
  std::function<int()> listQueue;
};

// args without the program name. Errors go to `err` as one line "sendmail: ...". A mail that
// was spooled gives 0 even when the spooler cannot be reached: its next run sends it.
int RunSendmail(const std::vector<std::string>& args, std::istream& in,
                const SendmailContext& context, const SendmailServices& services,
                std::ostream& err);

// The context of this process: the login name of its user, $EMAIL, the time now.
SendmailContext CurrentSendmailContext(std::string senderHostName,
                                       std::string localRecipientsTo);

}  // namespace pv
