#include "scripting/spool_run.h"

#include <vector>

#include "platform/control_channel.h"

namespace pv {

bool RunSpooler(std::string& error) {
  const std::vector<std::string> sockets = ReachableControlSockets();
  if (sockets.empty()) {
    error = "no running spooler found";
    return false;
  }
  bool taken = false;
  std::string reasons;
  for (const std::string& socket : sockets) {
    std::string failure;
    const std::string answer = SendControlRequest(socket, "SPOOLNOW", failure);
    if (answer == "OK") {
      taken = true;
      continue;
    }
    if (!reasons.empty()) reasons += "; ";
    reasons += socket + ": " + (answer.empty()       ? failure
                                : answer == "PAUSED" ? std::string("the spooler is paused")
                                                     : "answered " + answer);
  }
  error = taken ? "" : reasons;
  return taken;
}

}  // namespace pv
