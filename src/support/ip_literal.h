#pragma once
// IP addresses written as text ("192.0.2.1", "2001:db8::1", as inet_pton reads them) and the
// address literals of mail domains ("[192.0.2.1]", "[IPv6:2001:db8::1]"). Pure.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pv {

// The address in network byte order.
using Ipv4Bytes = std::array<std::uint8_t, 4>;
using Ipv6Bytes = std::array<std::uint8_t, 16>;

std::optional<Ipv4Bytes> ParseIpv4(std::string_view text);
std::optional<Ipv6Bytes> ParseIpv6(std::string_view text);

bool IsIpv4Literal(std::string_view text);
bool IsIpv6Literal(std::string_view text);
// Either of the two.
bool IsIpLiteral(std::string_view text);

// The address in its usual spelling ("::1" for "0:0::1"); "" when text is no address.
std::string NormalIpText(std::string_view text);

// A mail domain written as an address: "[" IPv4 "]" or "[IPv6:" IPv6 "]" (the tag in any case).
bool IsAddressLiteral(std::string_view domain);

}  // namespace pv
