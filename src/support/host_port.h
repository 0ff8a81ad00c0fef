#pragma once
// A server written as host and port ("mx.example:25", "192.0.2.1", "[2001:db8::1]:25") taken
// apart, and put together for people. Pure.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pv {

// What ends the host of a text without brackets.
enum class ColonRule {
  FirstColon,  // the first colon ("::1" is the host "" and the port ":1")
  BareIpv6,    // the only colon; a text of more colons is a host (an IPv6 address) alone
};

// The pieces of a host and port text, as views into it (blanks are kept).
struct HostPortParts {
  std::string_view host;   // inside the brackets of "[...]", else the text before the colon
  std::string_view port;   // the text after the colon; "" without one
  bool bracketed = false;  // the host was written "[...]"
  bool hasPort = false;    // a colon follows the host
  // A "[" without its "]" (the text is then read as one without brackets), or something other
  // than ":" after the "]" (then there is no port).
  bool malformed = false;
};

HostPortParts SplitHostPort(std::string_view text, ColonRule rule);

// A port of 1 to 65535 in decimal digits only; nothing for any other text.
std::optional<std::uint16_t> ParsePortNumber(std::string_view text);

// "127.0.0.2:25", "[::1]:25", "mx.example.org:25".
std::string HostPortText(std::string_view host, std::uint16_t port);

}  // namespace pv
