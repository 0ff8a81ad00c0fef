#include "platform/network_state.h"

#include <sstream>
#include <string>

#include "support/durable_write.h"
#include "support/text.h"

namespace pv {
namespace {

// A hex flags field of the kernel's route table; 0 when it is not one.
unsigned long RouteFlags(const std::string& field) {
  unsigned long flags = 0;
  std::istringstream in(field);
  return (in >> std::hex >> flags) ? flags : 0;
}

}  // namespace

bool HasDefaultRouteV4(std::string_view procNetRoute) {
  constexpr unsigned kRouteUp = 0x1;
  std::istringstream lines{std::string(procNetRoute)};
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags;
    if (!(fields >> iface >> destination >> gateway >> flags)) continue;
    if (iface == "lo" || destination != "00000000") continue;
    if (RouteFlags(flags) & kRouteUp) return true;
  }
  return false;
}

bool HasDefaultRouteV6(std::string_view procNetIpv6Route) {
  std::istringstream lines{std::string(procNetIpv6Route)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, nextHop, metric, refs, use, flags, iface;
    if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refs >>
          use >> flags >> iface))
      continue;
    if (iface == "lo" || prefix != "00" || destination != std::string(32, '0')) continue;
    // RTF_UP, and not a reject route (RTF_REJECT 0x200), which the kernel lists for "no route".
    const unsigned long f = RouteFlags(flags);
    if ((f & 0x1) && !(f & 0x200)) return true;
  }
  return false;
}

bool IsNetworkAlive() {
  std::string v4, v6;
  if (!ReadWholeFile("/proc/net/route", v4) && HasDefaultRouteV4(v4)) return true;
  return !ReadWholeFile("/proc/net/ipv6_route", v6) && HasDefaultRouteV6(v6);
}

}  // namespace pv
