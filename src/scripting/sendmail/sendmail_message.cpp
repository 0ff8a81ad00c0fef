#include "scripting/sendmail/sendmail_message.h"

#include <string_view>

namespace pv {
namespace {

// "Name:" with a name of printable ASCII other than ":".
bool IsHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (char c : line.substr(0, colon)) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 33 || u > 126) return false;
  }
  return true;
}

bool IsContinuation(std::string_view line) {
  return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

class MessageBuilder {
 public:
  // Takes one line without its line end; false once the mail is complete or refused.
  bool Add(std::string_view line) {
    ++lineNumber_;
    if (line.find('\0') != std::string_view::npos) {
      input_.error = "line " + std::to_string(lineNumber_) + " holds a NUL byte";
      return false;
    }
    if (!inHeaders_) {
      input_.message.body.append(line).append("\r\n");
      return true;
    }
    if (lineNumber_ == 1 && line.substr(0, 5) == "From ") return true;
    headerBytes_ += line.size() + 2;
    if (headerBytes_ > kMaxSendmailHeaderBlock) {
      input_.error = "the header block is larger than " +
                     std::to_string(kMaxSendmailHeaderBlock) + " bytes";
      return false;
    }
    AddHeaderLine(line);
    return true;
  }

  SendmailInput Take() { return std::move(input_); }

 private:
  void AddHeaderLine(std::string_view line) {
    std::vector<HeaderField>& headers = input_.message.headers;
    if (IsContinuation(line) && !headers.empty()) {
      headers.back().value.append("\r\n").append(line);
    } else if (IsHeaderLine(line)) {
      const std::size_t colon = line.find(':');
      headers.push_back({std::string(line.substr(0, colon)), std::string(line.substr(colon + 1))});
    } else {
      inHeaders_ = false;
      if (!line.empty()) input_.message.body.append(line).append("\r\n");
    }
  }

  SendmailInput input_;
  bool inHeaders_ = true;
  std::size_t headerBytes_ = 0;
  std::size_t lineNumber_ = 0;
};

}  // namespace

SendmailInput ReadSendmailMessage(std::istream& in, bool dotIsData) {
  MessageBuilder builder;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!dotIsData && line == ".") break;
    if (!builder.Add(line)) break;
  }
  SendmailInput input = builder.Take();
  if (input.ok() && in.bad()) input.error = "the mail could not be read from standard input";
  return input;
}

}  // namespace pv
