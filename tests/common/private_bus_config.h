#pragma once
// The configuration of a D-Bus daemon of a test's own: everyone on it may own any name and
// send anywhere, and it has no service directories, so a name nobody owns is never activated.
#include <string>

namespace pv::test {

// type: "session" or "system"; listen: a D-Bus address to listen at ("unix:dir=/tmp/x",
// "unix:path=/tmp/x/bus.sock").
inline std::string PrivateBusConfig(const std::string& type, const std::string& listen) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>" + type + "</type>\n"
         "  <listen>" + listen + "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

}  // namespace pv::test
