#pragma once
// SMTP replies (RFC 5321 4.2): a strict, bounded reader and the EHLO capabilities.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

struct SmtpReply {
  int code = 0;                    // 200 ... 599
  std::string enhanced;            // RFC 3463 status code of the first line ("5.1.1"), or ""
  std::vector<std::string> lines;  // each line's text after the code and separator
  // "550 5.1.1 No such user" (all lines joined by " "): for messages and outcomes.
  std::string OneLine() const;
  int Class() const { return code / 100; }
};

// Collects bytes from the server and cuts them into replies. Strict: every line is three
// digits 2xx-5xx followed by "-", " " or the line end, all lines of a reply carry the same
// code, a line is at most kMaxLineLength bytes and a reply at most kMaxReplyLength; non-printable
// characters are shown as "?". A violation is a protocol error, after which the reader is done.
//
// Lines end in CR LF; a bare LF is tolerated. "-" after the code continues the reply, " " or
// the bare code ends it. Text that is well-formed UTF-8 is kept; control characters and bytes
// that are not UTF-8 become "?". The line limits count the text without its line end.
class SmtpReplyReader {
 public:
  static constexpr std::size_t kMaxLineLength = 2048;
  static constexpr std::size_t kMaxReplyLength = 65536;
  enum class Status { NeedMore, Reply, Error };

  void Feed(std::string_view bytes);
  // The next complete reply; the raw lines of it are appended to rawLines when given (for the
  // transcript). Error: `error` says what was wrong.
  Status Next(SmtpReply& reply, std::string& error, std::vector<std::string>* rawLines = nullptr);
  // Bytes received that do not yet form a complete reply.
  bool HasPendingBytes() const;
  // Forgets everything, an error too: the reader is as new.
  void Clear();

 private:
  Status Fail(std::string why, std::string& error);
  // Takes one complete line (without its end) into the reply in progress; false with `why`
  // when the line is malformed. `last`: the line ends the reply.
  bool TakeLine(std::string_view line, bool& last, std::string& why);
  void Compact();

  std::string buffer_;
  std::size_t start_ = 0;    // buffer_ before this is taken
  std::size_t scanned_ = 0;  // buffer_ from start_ to this holds no LF
  SmtpReply partial_;        // the lines of the reply in progress
  std::vector<std::string> partialRaw_;
  std::size_t partialLength_ = 0;  // its bytes so far, line ends included
  bool failed_ = false;
  std::string error_;
};

// The EHLO keywords Postvane uses, parsed once from the reply.
struct SmtpCapabilities {
  bool pipelining = false;
  bool startTls = false;
  bool eightBitMime = false;
  bool enhancedStatusCodes = false;
  bool smtpUtf8 = false;
  std::optional<std::uint64_t> size;    // SIZE (0 = no fixed limit)
  std::set<std::string> authMechanisms; // upper case: "PLAIN", "LOGIN", ...

  // From the lines after the first of a 250 EHLO reply. Keywords are case-insensitive; the
  // old "AUTH=" form counts as AUTH; unknown keywords and an empty line ("250 ") are ignored.
  static SmtpCapabilities FromEhloReply(const SmtpReply& reply);
};

}  // namespace pv
