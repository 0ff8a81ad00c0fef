#pragma once
// What systemd and the spooler say about the service, turned into the state and start-type
// numbers of service/service_control.h. Pure functions: the answers come in as texts.
#include <map>
#include <string>
#include <string_view>

namespace pv {

// The state for a unit's ActiveState: "inactive" and "failed" are stopped, "activating" start
// pending, "deactivating" stop pending, "active" and "reloading" running, or paused when the
// spooler itself says it is paused; any other text kServiceUnknown. Continue and pause pending
// never show: the spooler pauses and continues while it answers the request.
int ServiceStateFromActiveState(std::string_view activeState, bool spoolerPaused);

// The start type for a unit file state (GetUnitFileState): "enabled" and "enabled-runtime" are
// automatic; "linked", "linked-runtime", "disabled", "static", "indirect", "alias" and
// "generated" on demand (the unit is known, nothing starts it at boot); "masked" and
// "masked-runtime" disabled; any other text kStartTypeUnexpected.
int StartTypeFromUnitFileState(std::string_view unitFileState);

// The start-type code for a D-Bus error a query got: kNoSuchService when systemd does not know
// the unit (NoSuchUnit, or FileNotFound from GetUnitFileState), kNoServiceManager when there is
// no bus or no systemd on it, kStartTypeUnreadable for anything else (a refusal, a time-out).
int StartTypeFromBusError(std::string_view errorName);
// Whether a D-Bus error means that no service manager answered at all.
bool IsNoServiceManagerError(std::string_view errorName);

// The spooler's STATE answer, "state=<offline|spooling|paused|waiting>\tnext=<iso>\t...": its
// tab-separated key=value pairs. A piece without "=" is left out; a later key wins.
std::map<std::string, std::string> ParseStateLine(std::string_view line);
// Whether a STATE answer says that the spooler is paused.
bool StateLineSaysPaused(std::string_view line);

}  // namespace pv
