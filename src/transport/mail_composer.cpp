#include "transport/mail_composer.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

#include "support/base64.h"
#include "support/codepage.h"
#include "support/durable_write.h"
#include "support/mime_words.h"
#include "transport/recipients.h"

namespace pv {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kFoldColumn = 78;
constexpr std::size_t kMaxLineLength = 998;
constexpr std::size_t kBase64LineLength = 76;
constexpr std::size_t kParameterChunk = 60;
constexpr std::string_view kFallbackHost = "postvane.localdomain";

bool IsWsp(char c) { return c == ' ' || c == '\t'; }

bool IsPrintableAscii(std::string_view text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\t') || c > 0x7E) return false;
  return true;
}

std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1) {
    std::random_device device;
    for (char& c : raw) c = static_cast<char>(device());
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : raw) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return hex;
}

// Undoes folding: CR LF before a blank or tab disappears, the blank or tab stays.
std::string Unfold(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 2 < text.size() && text[i + 1] == '\n' && IsWsp(text[i + 2])) {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Where to fold the rest of a physical header line from `start` on: the last blank or tab
// from `earliest` up to the fold column that leaves text on both sides; else the first such
// blank past the column; npos when there is none.
std::size_t FoldPoint(std::string_view line, std::size_t start, std::size_t earliest) {
  const auto usable = [&](std::size_t i) {
    return IsWsp(line[i]) && line.find_first_not_of(" \t", start) < i &&
           line.find_first_not_of(" \t", i) != std::string_view::npos;
  };
  const std::size_t from = std::max(earliest, start + 1);
  for (std::size_t i = std::min(start + kFoldColumn, line.size() - 1); i >= from; --i)
    if (usable(i)) return i;
  for (std::size_t i = std::max(from, start + kFoldColumn + 1); i < line.size(); ++i)
    if (usable(i)) return i;
  return std::string_view::npos;
}

// The physical lines of a header (its CR LF folds taken apart).
std::vector<std::string> PhysicalLines(std::string_view header) {
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = header.find(kCrLf, start);
    lines.emplace_back(header.substr(start, end - start));
    if (end == std::string_view::npos) return lines;
    start = end + kCrLf.size();
  }
}

// Folds each physical line of a header longer than the fold column. Only blanks after the
// line's last ":" are fold points: the spool reader takes any line with a ":" for a header.
std::string FoldHeader(std::string_view header) {
  std::string out;
  for (const std::string& line : PhysicalLines(header)) {
    if (!out.empty()) out.append(kCrLf);
    // No fold before the first word after the last ":" either: a line of just "Subject:"
    // would be legal but helps nobody.
    const std::size_t colon = line.rfind(':');
    const std::size_t word =
        colon == std::string::npos ? 0 : line.find_first_not_of(" \t", colon + 1);
    const std::size_t earliest = word == std::string::npos ? line.size() : word + 1;
    std::size_t start = 0;
    while (line.size() - start > kFoldColumn) {
      const std::size_t cut = FoldPoint(line, start, earliest);
      if (cut == std::string_view::npos) break;
      out.append(line, start, cut - start).append(kCrLf);
      start = cut;
    }
    out.append(line, start);
  }
  return out;
}

bool FitsLineLimit(std::string_view header) {
  for (const std::string& line : PhysicalLines(header))
    if (line.size() > kMaxLineLength) return false;
  return true;
}

// A display name as a phrase: a quoted string, or encoded words when it is not plain ASCII.
std::string FormatPhrase(std::string_view name) {
  return IsPrintableAscii(name) ? QuoteString(name) : EncodeHeaderValue("UTF-8", name, "B");
}

std::string FormatGroup(const RecipientGroup& group) {
  std::string text;
  for (std::size_t i = 0; i < group.items.size(); ++i) text += (i ? "," : "") + group.items[i];
  text = std::string(Trim(text, " \t"));
  if (IsPrintableAscii(text)) return text;
  if (!group.ok()) return EncodeHeaderValue("UTF-8", text, "B");
  if (group.displayName.empty()) return group.address;
  return FormatPhrase(group.displayName) + " <" + group.address + ">";
}

// An address list as a header value: plain ASCII mailboxes as written, others rebuilt with an
// encoded display name and the address readable.
std::string FormatAddressList(std::string_view list) {
  std::string out;
  for (const RecipientGroup& group : GroupRecipientItems(list)) {
    if (!out.empty()) out += ", ";
    out += FormatGroup(group);
  }
  return out;
}

bool IsReservedHeader(std::string_view name) {
  static constexpr std::string_view kReserved[] = {"Date",       "From",        "To", "Subject",
                                                   "Message-ID", "MIME-Version"};
  for (std::string_view reserved : kReserved)
    if (EqualsNoCase(name, reserved)) return true;
  return StartsWithNoCase(name, "Content-");
}

bool IsValidHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c < 33 || c > 126 || c == ':') return false;
  return true;
}

std::string MessageIdHost(std::string_view from) {
  const std::string domain = DomainOfAddress(ExtractMailbox(from));
  if (domain.empty() || !IsPrintableAscii(domain)) return std::string(kFallbackHost);
  return domain;
}

// The body with every line end as CR LF and a line end after the last line.
Bytes CanonicalText(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out.append(kCrLf);
    } else {
      out += text[i];
    }
  }
  if (!out.empty() && !out.ends_with(kCrLf)) out.append(kCrLf);
  return out;
}

std::string Base64Lines(std::string_view bytes) {
  const std::string encoded = Base64Encode(bytes);
  std::string out;
  for (std::size_t pos = 0; pos < encoded.size(); pos += kBase64LineLength)
    out.append(encoded.substr(pos, kBase64LineLength)).append(kCrLf);
  return out;
}

// 7bit or 8bit as the body allows; base64 for a NUL or a line too long for SMTP.
std::string_view BodyEncoding(std::string_view body) {
  bool eightBit = false;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const auto c = static_cast<unsigned char>(body[i]);
    if (c == 0) return "base64";
    if (c >= 0x80) eightBit = true;
    if (c == '\n') lineStart = i + 1;
    else if (c != '\r' && i - lineStart >= kMaxLineLength) return "base64";
  }
  return eightBit ? "8bit" : "7bit";
}

bool IsAttributeChar(unsigned char c) {
  static constexpr std::string_view kMarks = "!#$&+-.^_`|~";
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         kMarks.find(static_cast<char>(c)) != std::string_view::npos;
}

// RFC 2231 value characters: each byte an attribute character or "%" and two hex digits.
std::vector<std::string> PercentEncoded(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<std::string> pieces;
  for (unsigned char c : value) {
    if (IsAttributeChar(c)) pieces.emplace_back(1, static_cast<char>(c));
    else pieces.push_back({'%', kHex[c >> 4], kHex[c & 15]});
  }
  return pieces;
}

// One MIME parameter on its own folded line: name="value" for short printable ASCII, else
// RFC 2231 UTF-8 with continuations of limited length.
std::string Parameter(std::string_view attribute, std::string_view value) {
  const std::string lead = ";\r\n\t" + std::string(attribute);
  if (value.empty()) return {};
  if (IsPrintableAscii(value) && value.find('\t') == std::string_view::npos &&
      value.size() <= kParameterChunk)
    return lead + "=" + QuoteString(value);
  std::vector<std::string> chunks(1, "utf-8''");
  for (const std::string& piece : PercentEncoded(value)) {
    if (chunks.back().size() + piece.size() > kParameterChunk) chunks.emplace_back();
    chunks.back() += piece;
  }
  if (chunks.size() == 1) return lead + "*=" + chunks.front();
  std::string out;
  for (std::size_t i = 0; i < chunks.size(); ++i)
    out += lead + "*" + std::to_string(i) + "*=" + chunks[i];
  return out;
}

}  // namespace

std::string FormatMailDate(LocalDateTime local, int utcOffsetMinutes) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Day 0, 1899-12-30, was a Saturday.
  const std::int64_t ms = local.Milliseconds();
  std::int64_t days = ms / LocalDateTime::kMillisecondsPerDay;
  if (ms % LocalDateTime::kMillisecondsPerDay < 0) --days;
  const int weekday = static_cast<int>(((days % 7) + 7 + 6) % 7);
  const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[weekday],
                local.Day(), kMonths[local.Month() - 1], local.Year(), local.Hour(),
                local.Minute(), local.Second(), utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                offset % 60);
  return text;
}

std::string NewMessageId(std::string_view from, std::string_view fallbackHost) {
  std::string host = DomainOfAddress(ExtractMailbox(from));
  if (host.empty() || !IsPrintableAscii(host)) host = ToLowerAscii(fallbackHost);
  const bool plain = !host.empty() && host.find_first_not_of(
      "abcdefghijklmnopqrstuvwxyz0123456789.-") == std::string::npos;
  if (!plain) host = std::string(kFallbackHost);
  return "<" + std::to_string(static_cast<long long>(std::time(nullptr))) + "." + RandomHex(12) +
         "@" + host + ">";
}

int LocalUtcOffsetMinutes(LocalDateTime local) {
  // mktime reads the time zone anew on every call; glibc's own lock around that is one the
  // thread checker cannot see, so concurrent deliveries take this one.
  static std::mutex zone;
  const std::lock_guard lock(zone);
  std::tm fields = ToTm(local);
  const std::time_t utc = std::mktime(&fields);
  std::tm resolved{};
  if (utc == static_cast<std::time_t>(-1) || !localtime_r(&utc, &resolved)) return 0;
  return static_cast<int>(resolved.tm_gmtoff / 60);
}

bool MailComposer::Fail(std::string error) {
  lastError_ = std::move(error);
  return false;
}

void MailComposer::Reset() {
  started_ = false;
  lastError_.clear();
  mailLines_.clear();
  addedLines_.clear();
  body_.clear();
  html_.clear();
  attachments_.clear();
  messageId_.clear();
  boundaryToken_.clear();
}

bool MailComposer::NewMail(std::string_view subject, std::string_view from, std::string_view to,
                           std::string_view body) {
  Reset();
  const std::string subjectText = Unfold(subject), fromText = Unfold(from), toText = Unfold(to);
  if (HasLineBreak(subjectText)) return Fail("line break in the subject");
  if (HasLineBreak(fromText)) return Fail("line break in the sender");
  if (HasLineBreak(toText)) return Fail("line break in the recipients");

  std::vector<std::string> lines;
  const std::string fromValue = FormatAddressList(fromText), toValue = FormatAddressList(toText);
  if (!fromValue.empty()) lines.push_back(FoldHeader("From: " + fromValue));
  if (!toValue.empty()) lines.push_back(FoldHeader("To: " + toValue));
  lines.push_back(FoldHeader("Subject: " + EncodeHeaderValue("UTF-8", subjectText, "B")));
  for (const std::string& line : lines)
    if (!FitsLineLimit(line)) return Fail("header line longer than 998 characters");

  mailLines_ = std::move(lines);
  body_ = CanonicalText(body);
  messageId_ = "<" + RandomHex(16) + "@" + MessageIdHost(fromText) + ">";
  boundaryToken_ = RandomHex(12);
  started_ = true;
  return true;
}

bool MailComposer::AddHeader(std::string_view name, std::string_view value) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  if (!IsValidHeaderName(name)) return Fail("invalid header name \"" + std::string(name) + "\"");
  if (IsReservedHeader(name))
    return Fail("header \"" + std::string(name) + "\" is written by the composer");
  if (HasLineBreak(value)) return Fail("line break in the value of " + std::string(name));
  const std::string encoded =
      IsPrintableAscii(value) ? std::string(value) : EncodeHeaderValue("UTF-8", value, "B");
  std::string line = FoldHeader(std::string(name) + ": " + encoded);
  if (!FitsLineLimit(line)) return Fail("header line longer than 998 characters");
  addedLines_.push_back(std::move(line));
  return true;
}

bool MailComposer::AddAddressHeader(std::string_view name, std::string_view list) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  if (!EqualsNoCase(name, "Cc") && !EqualsNoCase(name, "Bcc") && !EqualsNoCase(name, "Reply-To"))
    return Fail("\"" + std::string(name) + "\" is not an address header");
  const std::string text = Unfold(list);
  if (HasLineBreak(text)) return Fail("line break in " + std::string(name));
  const std::string value = FormatAddressList(text);
  if (value.empty()) return true;
  std::string line = FoldHeader(std::string(name) + ": " + value);
  if (!FitsLineLimit(line)) return Fail("header line longer than 998 characters");
  addedLines_.push_back(std::move(line));
  return true;
}

bool MailComposer::SetHtmlAlternative(std::string_view html) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  html_ = CanonicalText(html);
  return true;
}

bool MailComposer::AddTextAttachment(std::string_view text, std::string_view attachmentName) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  attachments_.push_back({std::string(attachmentName), Bytes(text), true});
  return true;
}

bool MailComposer::AddFileAttachment(const std::string& path, std::string_view attachmentName) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  Bytes content;
  if (const IoError error = ReadWholeFile(path, content))
    return Fail("cannot read " + path + ": " + error.text);
  attachments_.push_back({std::string(attachmentName), std::move(content), false});
  return true;
}

std::string MailComposer::Boundary(const std::vector<Bytes>& parts) const {
  const std::string base = "=_pv_" + boundaryToken_;
  std::string boundary = base;
  const auto occurs = [&] {
    for (const Bytes& part : parts)
      if (part.find(boundary) != Bytes::npos) return true;
    return false;
  };
  for (int n = 0; occurs(); ++n) boundary = base + "." + std::to_string(n);
  return boundary;
}

bool MailComposer::AddBytesAttachment(Bytes content, std::string_view attachmentName) {
  lastError_.clear();
  if (!started_) return Fail("no mail started");
  attachments_.push_back({std::string(attachmentName), std::move(content), false});
  return true;
}

Bytes MailComposer::ComposeBytes(LocalDateTime now) const {
  Bytes out = "Date: " + FormatMailDate(now, LocalUtcOffsetMinutes(now)) + "\r\n";
  for (const std::string& line : mailLines_) out += line + "\r\n";
  out += "Message-ID: " + messageId_ + "\r\nMIME-Version: 1.0\r\n";
  for (const std::string& line : addedLines_) out += line + "\r\n";

  Bytes bodyPart = BodyPart();
  if (attachments_.empty()) return out + bodyPart;

  std::vector<Bytes> parts{std::move(bodyPart)};
  for (const Attachment& attachment : attachments_) {
    const std::string type =
        attachment.text ? "text/plain; charset=utf-8" : "application/octet-stream";
    parts.push_back("Content-Type: " + type + Parameter("name", attachment.name) +
                    "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment" +
                    Parameter("filename", attachment.name) + "\r\n\r\n" +
                    Base64Lines(attachment.content));
  }
  const std::string boundary = Boundary(parts);
  out += "Content-Type: multipart/mixed; boundary=\"" + boundary +
         "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n";
  for (const Bytes& part : parts) out += "\r\n--" + boundary + "\r\n" + part;
  return out + "\r\n--" + boundary + "--\r\n";
}

// The text, or the text and the HTML as multipart/alternative: headers and content.
Bytes MailComposer::BodyPart() const {
  const auto textPart = [](std::string_view subtype, const Bytes& content) {
    const std::string_view encoding = BodyEncoding(content);
    return "Content-Type: text/" + std::string(subtype) +
           "; charset=utf-8\r\nContent-Transfer-Encoding: " + std::string(encoding) +
           "\r\n\r\n" + (encoding == "base64" ? Base64Lines(content) : content);
  };
  if (html_.empty()) return textPart("plain", body_);
  const std::vector<Bytes> parts{textPart("plain", body_), textPart("html", html_)};
  const std::string boundary = Boundary(parts) + ".alt";
  Bytes out = "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\r\n\r\n";
  for (const Bytes& part : parts) out += "--" + boundary + "\r\n" + part + "\r\n";
  return out + "--" + boundary + "--\r\n";
}

std::string MailComposer::Compose(LocalDateTime now) const {
  if (!started_) return {};
  return DecodeCodePage(ComposeBytes(now), kCodePage1252);
}

bool MailComposer::SpoolToFile(const std::string& path, std::string& error, bool replace) const {
  if (!started_) {
    error = "no mail to spool";
    return false;
  }
  Bytes bytes;
  EncodeCodePage(Compose(LocalDateTime::Now()), kCodePage1252, bytes);
  DurableWriteOptions options;
  options.failIfExists = !replace;
  if (const IoError written = WriteFileDurably(path, bytes, options)) {
    error = "cannot spool the mail to " + path + ": " + written.text;
    return false;
  }
  error.clear();
  return true;
}

}  // namespace pv
