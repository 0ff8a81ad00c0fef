#pragma once
// A mail's bytes as they go after DATA, prepared once per Send and shared by every session
// that carries it, and the 7-bit form of an 8-bit mail for servers without 8BITMIME (RFC 6152).
//
// The mail comes as text: the spool file's bytes read as code page 1252, so encoding each
// character with code page 1252 gives back the file's byte.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace pv {

// The longest line that goes out, CR LF not counted (RFC 5321 4.5.3.1.6).
inline constexpr std::size_t kMaxWireLine = 998;

// Prepared wire bytes: shared, never copied, released when the last holder lets go.
using WireBytes = std::shared_ptr<const std::string>;

struct WireData {
  std::string bytes;
  bool eightBit = false;  // a byte of 0x80 or above is in it
};

// One pass over the header block and the body (the text after the first empty line): every
// character back to its byte, every line end CR LF (a lone CR or LF too), a line that starts
// with "." gets a second one, CR LF "." CR LF at the end. A header line longer than 998 octets
// is folded before the last blank within the limit, or, without one, broken with CR LF SPACE;
// a longer body line is broken after 998 octets with CR LF SPACE, each further piece at most
// 998 octets with its leading space.
WireData PrepareWireData(std::string_view headers, std::string_view body);
// The same for a whole mail text: the header block ends at the first empty line.
WireData PrepareWireData(std::string_view text);

// Whether a character of the text encodes to a byte of 0x80 or above.
bool HasEightBitText(std::string_view text);

struct SevenBitMail {
  std::string text;   // the converted mail as text (every character below 0x80)
  std::string error;  // why it cannot be converted; "" when it was
};

// The mail with each 8-bit text part in quoted-printable (RFC 2045 6.7): the top-level part
// and the parts of multipart/* entities, by boundary, at any depth. A leaf part with 8-bit
// characters whose Content-Transfer-Encoding is 7bit, 8bit or absent gets quoted-printable
// with its line breaks kept, soft breaks keeping lines at 76 characters, and its
// Content-Transfer-Encoding header set to quoted-printable. Impossible, and said so in
// `error`: 8-bit characters in a header, in a message/* part, outside the parts of a multipart
// entity, or in a part encoded binary, quoted-printable or base64.
SevenBitMail ConvertToSevenBit(std::string_view headers, std::string_view body);
// PrepareWireData of the converted mail, without holding the converted text whole; `error`
// as above (the bytes are empty then).
WireData PrepareSevenBitWireData(std::string_view headers, std::string_view body,
                                 std::string& error);

}  // namespace pv
