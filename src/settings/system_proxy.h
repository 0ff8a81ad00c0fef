#pragma once
// The system's SOCKS proxy: the ALL_PROXY environment variable (all_proxy when ALL_PROXY is
// unset), taken when its scheme is socks4, socks4a, socks5 or socks5h.
#include <string>
#include <string_view>

namespace pv {

// host:port of a proxy URL with a SOCKS scheme (any case), without user, password and path,
// for example "socks5h://user:pw@proxy.local:1080/" gives "proxy.local:1080"; an IPv6 host
// keeps its brackets. Without a port the SOCKS port 1080 is added. "" for any other value: no
// scheme, another scheme, no host, a port that is not a number, an unclosed "[" or anything
// but ":" after the "]".
std::string SocksProxyFromUrl(std::string_view url);

// SocksProxyFromUrl of ALL_PROXY, or of all_proxy when ALL_PROXY is unset; "" when neither.
std::string GetSystemSocksProxy();

}  // namespace pv
