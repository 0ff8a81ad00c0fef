#pragma once
// Asks the running spoolers (the user's own and the system service's) for a run now.
#include <string>

namespace pv {

// True when a spooler took the request ("OK"); false with the reason when none could be
// asked, none answered, or every one that answered is paused.
bool RunSpooler(std::string& error);

}  // namespace pv
