#pragma once
// Whether the machine is online, for the setting OnlyIfOnline: online means the kernel has a
// default route (IPv4 or IPv6) through an interface that is up. A machine with loopback only,
// or with links but no way out, is offline.
#include <string_view>

namespace pv {

// A default route in the text of /proc/net/route (destination 00000000, flag RTF_UP).
bool HasDefaultRouteV4(std::string_view procNetRoute);
// A default route in the text of /proc/net/ipv6_route (destination ::/0, not on "lo").
bool HasDefaultRouteV6(std::string_view procNetIpv6Route);
// Reads both files.
bool IsNetworkAlive();

}  // namespace pv
