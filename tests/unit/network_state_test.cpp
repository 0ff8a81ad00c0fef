#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/network_state.h"

namespace pv {
namespace {

struct RouteCase {
  const char* what;
  std::string text;
  bool online;
};

const std::string kV4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(NetworkState, DefaultRouteV4) {
  const std::vector<RouteCase> cases = {
      {"default route up", kV4Header + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
       true},
      {"default route not up",
       kV4Header + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", false},
      {"default route on lo", kV4Header + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n",
       false},
      {"default after other routes",
       kV4Header + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n" +
           "wlan0\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n",
       true},
      {"first line is the header, never a route",
       "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HasDefaultRouteV4(c.text), c.online) << c.what;
}

std::string V6Line(const std::string& destination, const std::string& prefix,
                   const std::string& flags, const std::string& iface) {
  return destination + " " + prefix + " " + std::string(32, '0') + " 00 " +
         "fe800000000000000000000000000001 00000400 00000001 00000000 " + flags + " " + iface +
         "\n";
}

TEST(NetworkState, DefaultRouteV6) {
  const std::string any(32, '0');
  const std::string link = "fe800000000000000000000000000000";
  const std::vector<RouteCase> cases = {
      {"empty file", "", false},
      {"default route up", V6Line(any, "00", "00000003", "eth0"), true},
      {"default route not up", V6Line(any, "00", "00000002", "eth0"), false},
      {"reject route for no route", V6Line(any, "00", "00200201", "lo"), false},
      {"default route on lo", V6Line(any, "00", "00000001", "lo"), false},
      {"prefix not 0", V6Line(any, "40", "00000001", "eth0"), false},
      {"default after a link route",
       V6Line(link, "40", "00000001", "eth0") + V6Line(any, "00", "00450003", "eth0"), true},
  };
  for (const auto& c : cases) EXPECT_EQ(HasDefaultRouteV6(c.text), c.online) << c.what;
}

}  // namespace
}  // namespace pv
