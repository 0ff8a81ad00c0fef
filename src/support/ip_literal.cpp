#include "support/ip_literal.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "support/text.h"

namespace pv {
namespace {

template <typename Bytes>
std::optional<Bytes> Parse(int family, std::string_view text) {
  Bytes bytes{};
  if (::inet_pton(family, std::string(text).c_str(), bytes.data()) != 1) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<Ipv4Bytes> ParseIpv4(std::string_view text) {
  return Parse<Ipv4Bytes>(AF_INET, text);
}

std::optional<Ipv6Bytes> ParseIpv6(std::string_view text) {
  return Parse<Ipv6Bytes>(AF_INET6, text);
}

bool IsIpv4Literal(std::string_view text) { return ParseIpv4(text).has_value(); }
bool IsIpv6Literal(std::string_view text) { return ParseIpv6(text).has_value(); }
bool IsIpLiteral(std::string_view text) { return IsIpv4Literal(text) || IsIpv6Literal(text); }

std::string NormalIpText(std::string_view text) {
  char normal[INET6_ADDRSTRLEN];
  if (const auto v4 = ParseIpv4(text))
    return ::inet_ntop(AF_INET, v4->data(), normal, sizeof normal) ? normal : "";
  if (const auto v6 = ParseIpv6(text))
    return ::inet_ntop(AF_INET6, v6->data(), normal, sizeof normal) ? normal : "";
  return "";
}

bool IsAddressLiteral(std::string_view domain) {
  if (domain.size() < 3 || domain.front() != '[' || domain.back() != ']') return false;
  const std::string_view inner = domain.substr(1, domain.size() - 2);
  constexpr std::string_view kTag = "IPv6:";
  if (StartsWithNoCase(inner, kTag)) return IsIpv6Literal(inner.substr(kTag.size()));
  return IsIpv4Literal(inner);
}

}  // namespace pv
