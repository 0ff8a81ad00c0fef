#pragma once
// The mail that a program pipes into `sendmail`: read line by line, LF or CR LF, into header
// fields and a CR LF body.
//
// Without -i a line of a single "." ends the mail and whatever follows is not read; with -i
// it is a line of the body. The header block ends at the first empty line, or at the first
// line that is neither a header ("Name: value") nor the continuation of one (a line that
// begins with a blank or tab): that line begins the body, so a mail without headers is all
// body. A first line "From " (an mbox separator) is dropped. The header block is bounded, the
// body is not. A NUL byte anywhere refuses the mail: servers and readers cut a line at a NUL,
// so the mail would arrive truncated without anyone being told.
#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace pv {

// The largest header block taken, line ends counted.
inline constexpr std::size_t kMaxSendmailHeaderBlock = 1024 * 1024;

struct HeaderField {
  std::string name;   // as written
  std::string value;  // the text after ":"; each fold is CR LF and the line that follows
};

struct SendmailMessage {
  std::vector<HeaderField> headers;
  std::string body;  // every line ends in CR LF
};

struct SendmailInput {
  SendmailMessage message;
  std::string error;  // "" when the mail was read
  bool ok() const { return error.empty(); }
};

SendmailInput ReadSendmailMessage(std::istream& in, bool dotIsData);

}  // namespace pv
