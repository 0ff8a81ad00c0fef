#include "service/service_state.h"

#include "service/service_control.h"

namespace pv {
namespace {

template <std::size_t N>
bool OneOf(std::string_view text, const std::string_view (&names)[N]) {
  for (std::string_view name : names)
    if (text == name) return true;
  return false;
}

}  // namespace

int ServiceStateFromActiveState(std::string_view activeState, bool spoolerPaused) {
  if (activeState == "inactive" || activeState == "failed") return kServiceStopped;
  if (activeState == "activating") return kServiceStartPending;
  if (activeState == "deactivating") return kServiceStopPending;
  if (activeState == "active" || activeState == "reloading")
    return spoolerPaused ? kServicePaused : kServiceRunning;
  return kServiceUnknown;
}

int StartTypeFromUnitFileState(std::string_view unitFileState) {
  static constexpr std::string_view kAutomatic[] = {"enabled", "enabled-runtime"};
  static constexpr std::string_view kOnDemand[] = {"linked", "linked-runtime", "disabled", "static",
                                                   "indirect", "alias", "generated"};
  static constexpr std::string_view kDisabled[] = {"masked", "masked-runtime"};
  if (OneOf(unitFileState, kAutomatic)) return kStartAutomatic;
  if (OneOf(unitFileState, kOnDemand)) return kStartOnDemand;
  if (OneOf(unitFileState, kDisabled)) return kStartDisabled;
  return kStartTypeUnexpected;
}

bool IsNoServiceManagerError(std::string_view errorName) {
  // No bus (Disconnected, NoServer), or nobody owns systemd's name on it.
  static constexpr std::string_view kNames[] = {
      "org.freedesktop.DBus.Error.Disconnected", "org.freedesktop.DBus.Error.NoServer",
      "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner"};
  return OneOf(errorName, kNames);
}

int StartTypeFromBusError(std::string_view errorName) {
  if (errorName == "org.freedesktop.systemd1.NoSuchUnit" ||
      errorName == "org.freedesktop.DBus.Error.FileNotFound")
    return kNoSuchService;
  if (IsNoServiceManagerError(errorName)) return kNoServiceManager;
  return kStartTypeUnreadable;
}

std::map<std::string, std::string> ParseStateLine(std::string_view line) {
  std::map<std::string, std::string> pairs;
  while (!line.empty()) {
    const std::size_t tab = line.find('\t');
    const std::string_view piece = line.substr(0, tab);
    const std::size_t equals = piece.find('=');
    if (equals != std::string_view::npos && equals > 0)
      pairs[std::string(piece.substr(0, equals))] = std::string(piece.substr(equals + 1));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  return pairs;
}

bool StateLineSaysPaused(std::string_view line) {
  const auto pairs = ParseStateLine(line);
  const auto state = pairs.find("state");
  return state != pairs.end() && state->second == "paused";
}

}  // namespace pv
