#include "transport/smtp_reply.h"

#include <algorithm>
#include <limits>

#include "support/text.h"

namespace pv {
namespace {

// How much of a malformed line an error message shows.
constexpr std::size_t kShownLength = 60;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNonPrintable(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0xD800 && cp <= 0xDFFF);
}

// The text with control characters and bytes that are not UTF-8 shown as "?".
std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len) {
    const char32_t cp = CodePointAt(text, pos, len);
    const bool stray = cp == 0xFFFD && len == 1;
    if (stray || IsNonPrintable(cp)) {
      out += '?';
    } else {
      out.append(text.substr(pos, len));
    }
  }
  return out;
}

std::string Shown(std::string_view line) {
  std::string shown = Printable(line.substr(0, kShownLength));
  if (line.size() > kShownLength) shown += "...";
  return "\"" + shown + "\"";
}

// 1 to 3 digits at text[pos], followed by `end` (or the text's end when end is 0).
bool DigitGroup(std::string_view text, std::size_t& pos, char end) {
  const std::size_t first = pos;
  while (pos < text.size() && IsDigit(text[pos]) && pos - first < 3) ++pos;
  if (pos == first) return false;
  if (pos == text.size()) return end == 0;
  return text[pos] == end || (end == 0 && text[pos] == ' ');
}

// RFC 3463 "class.subject.detail" at the start of text, whose class is `classDigit`.
std::string EnhancedCode(std::string_view text, char classDigit) {
  if (text.size() < 5 || text[0] != classDigit || text[1] != '.') return {};
  std::size_t pos = 2;
  if (!DigitGroup(text, pos, '.')) return {};
  ++pos;
  if (!DigitGroup(text, pos, 0)) return {};
  return std::string(text.substr(0, pos));
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  for (std::size_t pos = 0; pos < line.size();) {
    const std::size_t end = std::min(line.find(' ', pos), line.size());
    if (end > pos) words.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

// The SIZE parameter; 0 (no known limit) when absent or not a number.
std::uint64_t SizeLimit(const std::vector<std::string_view>& params) {
  if (params.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : params[0]) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (!IsDigit(c) || value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::string SmtpReply::OneLine() const {
  std::string text = std::to_string(code);
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    text += ' ';
    text += line;
  }
  return text;
}

void SmtpReplyReader::Feed(std::string_view bytes) {
  if (!failed_) buffer_.append(bytes);
}

SmtpReplyReader::Status SmtpReplyReader::Next(SmtpReply& reply, std::string& error,
                                              std::vector<std::string>* rawLines) {
  if (failed_) {
    error = error_;
    return Status::Error;
  }
  for (;;) {
    const std::size_t lf = buffer_.find('\n', scanned_);
    if (lf == std::string::npos) {
      scanned_ = buffer_.size();
      const std::size_t open = buffer_.size() - start_;
      // An unfinished line may still lose a CR at its end.
      if (open > kMaxLineLength + 1) return Fail("reply line longer than 2048 bytes", error);
      if (partialLength_ + open > kMaxReplyLength)
        return Fail("reply longer than 65536 bytes", error);
      Compact();
      return Status::NeedMore;
    }
    std::string_view line(buffer_.data() + start_, lf - start_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxLineLength) return Fail("reply line longer than 2048 bytes", error);
    partialLength_ += lf + 1 - start_;
    if (partialLength_ > kMaxReplyLength) return Fail("reply longer than 65536 bytes", error);
    bool last = false;
    std::string why;
    if (!TakeLine(line, last, why)) return Fail(why, error);
    start_ = scanned_ = lf + 1;
    if (!last) continue;
    reply = std::move(partial_);
    reply.enhanced = EnhancedCode(reply.lines.front(), static_cast<char>('0' + reply.Class()));
    if (rawLines) rawLines->insert(rawLines->end(), partialRaw_.begin(), partialRaw_.end());
    partial_ = SmtpReply{};
    partialRaw_.clear();
    partialLength_ = 0;
    if (start_ * 2 >= buffer_.size()) Compact();
    return Status::Reply;
  }
}

bool SmtpReplyReader::TakeLine(std::string_view line, bool& last, std::string& why) {
  const bool codeOk = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && IsDigit(line[1]) &&
                      IsDigit(line[2]);
  if (!codeOk || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
    why = "malformed reply line " + Shown(line);
    return false;
  }
  const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  if (!partial_.lines.empty() && code != partial_.code) {
    why = "reply lines with different codes (" + std::to_string(partial_.code) + " and " +
          std::to_string(code) + ")";
    return false;
  }
  partial_.code = code;
  partial_.lines.push_back(Printable(line.substr(std::min<std::size_t>(4, line.size()))));
  partialRaw_.push_back(Printable(line));
  last = line.size() == 3 || line[3] == ' ';
  return true;
}

SmtpReplyReader::Status SmtpReplyReader::Fail(std::string why, std::string& error) {
  failed_ = true;
  error_ = std::move(why);
  error = error_;
  buffer_.clear();
  start_ = scanned_ = 0;
  return Status::Error;
}

// Drops the bytes taken. Called when the rest is at most one unfinished line, or no longer than
// the part taken, so the bytes moved never exceed the bytes read.
void SmtpReplyReader::Compact() {
  buffer_.erase(0, start_);
  scanned_ -= start_;
  start_ = 0;
}

bool SmtpReplyReader::HasPendingBytes() const {
  return start_ < buffer_.size() || !partial_.lines.empty();
}

void SmtpReplyReader::Clear() { *this = SmtpReplyReader{}; }

SmtpCapabilities SmtpCapabilities::FromEhloReply(const SmtpReply& reply) {
  SmtpCapabilities caps;
  for (std::size_t i = 1; i < reply.lines.size(); ++i) {
    std::vector<std::string_view> words = Words(reply.lines[i]);
    if (words.empty()) continue;
    std::string keyword = UpperAscii(words.front());
    words.erase(words.begin());
    if (keyword.starts_with("AUTH=")) {  // the form of old servers: "AUTH=LOGIN PLAIN"
      caps.authMechanisms.insert(keyword.substr(5));
      keyword = "AUTH";
    }
    if (keyword == "PIPELINING") caps.pipelining = true;
    else if (keyword == "STARTTLS") caps.startTls = true;
    else if (keyword == "8BITMIME") caps.eightBitMime = true;
    else if (keyword == "ENHANCEDSTATUSCODES") caps.enhancedStatusCodes = true;
    else if (keyword == "SMTPUTF8") caps.smtpUtf8 = true;
    else if (keyword == "SIZE") caps.size = SizeLimit(words);
    else if (keyword == "AUTH") {
      for (std::string_view word : words) caps.authMechanisms.insert(UpperAscii(word));
    }
  }
  caps.authMechanisms.erase("");
  return caps;
}

}  // namespace pv
