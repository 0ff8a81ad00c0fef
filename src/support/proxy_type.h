#pragma once
// The SOCKS proxy kinds, as the settings hold them and the mail transport connects through them.
#include <cstdint>

namespace pv {

enum ProxyTypeCode : std::int32_t {
  ProxyNone = 0,
  ProxySocks4 = 1,
  ProxySocks5NoAuth = 2,
  ProxySocks5Auth = 3,
};

// Whether code is one of the four kinds (a code read from elsewhere may be any number).
constexpr bool IsProxyTypeCode(std::int32_t code) {
  return code >= ProxyNone && code <= ProxySocks5Auth;
}

// SOCKS5 in either form.
constexpr bool IsSocks5(ProxyTypeCode type) {
  return type == ProxySocks5NoAuth || type == ProxySocks5Auth;
}

}  // namespace pv
