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

}  // namespace pv
