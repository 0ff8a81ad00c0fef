#pragma once
// A server address as the settings write it: [scheme "://"] [user "@"] host [":" port]
// ["/" path] ["?" query]. An IPv6 host is written in brackets ("[::1]:1080").
#include <cstdint>
#include <string>
#include <string_view>

namespace pv {

struct ServerAddress {
  std::string scheme;
  std::string host;
  std::int32_t port = 0;
  std::string path;
  std::string query;
  std::string userInfo;
};

// True when host is not empty. A port is its leading decimal number, limited to 1 ... 65535;
// without one the default port applies.
bool ParseServerAddress(std::string_view address, ServerAddress& out, std::int32_t defaultPort);

// One DNS server as the resolver takes it: an IP address, an IPv4 address with ":port", or
// "[IPv6]:port" ("[::1]" too). Its canonical form ("1.2.3.4:53", "[::1]:53", "::1"); "" when
// it is none. Checked here because c-ares 1.18 checks too little itself: it takes "1.2.3" as
// 1.2.3.255, "127.0.0.1.5" as 127.0.0.1 and port 99999 as 34463.
std::string CanonicalDnsServer(std::string_view item);

}  // namespace pv
