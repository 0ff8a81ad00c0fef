#pragma once
// Where a client puts a new mail: the spool directory and extension of the spooler that will
// read it. A running spooler is asked first ("SPOOLDIR" on its control socket: the user's own,
// then the system service's); when none answers, the settings are read as that spooler would
// read them (the user's, or as root the service's). A directory given explicitly wins.
// The same settings give the sender host name and the local recipients of `sendmail`.
#include <string>
#include <string_view>

#include "settings/spooler_settings.h"

namespace pv {

struct SpoolTarget {
  std::string directory;  // with a trailing separator
  std::string extension;  // without the dot
  std::string senderHostName;
  std::string localRecipientsTo;
  // Where the directory came from, for messages: "the spooler at <socket>", "<settings file>",
  // or "the command line".
  std::string source;
  // Every setting of that spooler (its route, for a probe).
  SpoolerSettings settings;
};

// "<directory>\t<extension>", the answer to SPOOLDIR; false when the answer is not one.
bool ParseSpoolDirAnswer(std::string_view answer, std::string& directory,
                         std::string& extension);

// explicitDirectory: "" to ask the spoolers and the settings.
SpoolTarget FindSpoolTarget(const std::string& explicitDirectory = "");

}  // namespace pv
