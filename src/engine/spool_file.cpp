#include "engine/spool_file.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "engine/recipient_ledger.h"
#include "settings/ini_store.h"
#include "support/mime_words.h"
#include "support/text.h"
#include "support/textfile.h"

namespace pv {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kFold = "\r\n\t";

// Tabs are dropped. The lines are split at CR LF; a CR or LF of its own inside a line becomes
// a blank, so a value never carries a line break that would end the header block when written.
std::string WithoutTabsAndBreaks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r' || c == '\n') out += ' ';
    else if (c != '\t') out += c;
  }
  return out;
}

std::string Piece(std::string_view text) {
  return std::string(Trim(WithoutTabsAndBreaks(text), " "));
}

// Applies `encode` to each folded line of a value and keeps the folding.
std::string EncodeFolded(std::string_view value,
                         const std::function<std::string(std::string_view)>& encode) {
  std::string out;
  for (std::string_view line : SplitAt(value, kFold)) {
    if (line.data() != value.data()) out += kFold;
    out += encode(line);
  }
  return out;
}

// The items of a comma list, every text kept, split only at commas outside quotes, comments
// and angle addresses: "\"Doe, John\" <j@x>" is one mailbox.
std::vector<std::string_view> SplitMailboxItems(std::string_view line) {
  std::vector<std::string_view> items;
  bool quoted = false;
  int comment = 0;
  bool angle = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && (quoted || comment > 0)) ++i;
    else if (c == '"' && comment == 0) quoted = !quoted;
    else if (quoted) continue;
    else if (c == '(') ++comment;
    else if (c == ')' && comment > 0) --comment;
    else if (comment > 0) continue;
    else if (c == '<') angle = true;
    else if (c == '>') angle = false;
    else if (c == ',' && !angle) {
      items.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  items.push_back(line.substr(start));
  return items;
}

std::string EncodeMailboxItem(std::string_view item) {
  const auto open = item.rfind('<');
  if (open == std::string_view::npos) return std::string(item);
  const std::string_view name = item.substr(0, open);
  const std::size_t lead = name.find_first_not_of(" \t");
  if (lead == std::string_view::npos) return std::string(item);
  std::string_view bare = Trim(name, " \t");
  if (bare.size() >= 2 && bare.front() == '"' && bare.back() == '"') {
    const std::string encoded = EncodeHeaderValue("UTF-8", bare.substr(1, bare.size() - 2), "B");
    if (encoded == bare.substr(1, bare.size() - 2)) return std::string(item);
    return std::string(name.substr(0, lead)) + encoded + " " + std::string(item.substr(open));
  }
  const std::string encoded = EncodeHeaderValue("UTF-8", bare, "B");
  if (encoded == bare) return std::string(item);
  return std::string(name.substr(0, lead)) + encoded + " " + std::string(item.substr(open));
}

bool LeadingNumberIsNotZero(std::string_view value) {
  const std::string text(Trim(value));
  return std::strtod(text.c_str(), nullptr) != 0;
}

struct HeaderLine {
  std::string name;   // as written, trimmed
  std::string value;  // unfolded into CR LF TAB, decoded
  std::string raw;    // unfolded into CR LF TAB, encoded words as written
};

std::vector<HeaderLine> ReadHeaderLines(std::string_view block) {
  std::vector<HeaderLine> headers;
  for (std::string_view line : SplitAt(block, kCrLf)) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos && !headers.empty()) {
      // A line without ":" continues the header before it.
      std::string& value = headers.back().value;
      if (!value.empty()) value += kFold;
      value += Piece(line);
      continue;
    }
    const std::string_view name = colon == std::string_view::npos ? line : line.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos ? line : line.substr(colon + 1);
    headers.push_back({std::string(Trim(name)), Piece(value), ""});
  }
  for (HeaderLine& h : headers) {
    h.raw = h.value;
    h.value = DecodeEncodedWords(h.value);
  }
  return headers;
}

void AddLine(std::string& list, const std::string& name, const std::string& value) {
  if (!list.empty()) list += kCrLf;
  list += name + ": " + value;
}

// Takes one header into the fields; says where its rebuilt line goes.
void ApplyHeader(const HeaderLine& h, LocalDateTime now, SpoolFile& f) {
  const std::string key = ToLowerAscii(h.name);
  const std::string encodedAddresses = EncodeAddressList(h.value);
  const auto both = [&](const std::string& value) {
    AddLine(f.SendHeaders, h.name, value);
    AddLine(f.FileHeaders, h.name, value);
  };
  if (key == "from") { f.From = h.value; both(encodedAddresses); }
  else if (key == "to") { f.To = h.value; both(encodedAddresses); }
  else if (key == "cc") { f.Cc = h.value; both(encodedAddresses); }
  else if (key == "bcc") { f.Bcc = h.value; AddLine(f.FileHeaders, h.name, encodedAddresses); }
  else if (key == "subject") { f.Subject = h.value; both(EncodeUnstructured(h.value)); }
  else if (key == "mime-version") { f.MimeVersion = h.value; both(h.value); }
  else if (key == "x-pvx-retry") f.RetryCount = SettingTextToLong(h.value);
  else if (key == "x-pvx-sendafter") {
    bool error = false;
    const LocalDateTime when = h.value.empty() ? now : ParseDateTime(h.value, now, error);
    f.SendAfter = (h.value.empty() || error) ? now : when;
  } else if (key == "x-pvx-returnto") { f.ReturnTo = h.value; AddLine(f.FileHeaders, h.name, h.value); }
  else if (key == "x-pvx-isreturnmail") {
    f.IsReturnMail = LeadingNumberIsNotZero(h.value);
    both(f.IsReturnMail ? "1" : "0");
  } else if (key == "x-pvx-successaddresses") f.SuccessAddresses = h.value;
  else if (key == "x-pvx-refusedaddresses") f.RefusedAddresses = h.value;
  else if (key == "x-pvx-iserrormime") f.IsErrorMime = LeadingNumberIsNotZero(h.value);
  else if (key == "x-mimeole") {}
  else if (key == "date" || key == "message-id") {
    (key == "date" ? f.HasDate : f.HasMessageId) = true;
    both(h.value);
  }
  else if (key == "x-unsent") AddLine(f.FileHeaders, h.name, h.value);
  // Any other header goes on as written: its encoded words stay encoded.
  else both(h.raw);
}

}  // namespace

std::string_view HeaderBlockOf(std::string_view text) {
  return text.substr(0, text.find("\r\n\r\n"));
}

std::string_view BodyOf(std::string_view text) {
  const auto pos = text.find("\r\n\r\n");
  return pos == std::string_view::npos ? text : text.substr(pos + 4);
}

std::string EncodeAddressList(std::string_view value) {
  return EncodeFolded(value, [](std::string_view line) {
    std::string out;
    for (std::string_view item : SplitMailboxItems(line)) {
      if (item.data() != line.data()) out += ',';
      out += EncodeMailboxItem(item);
    }
    return out;
  });
}

std::string EncodeUnstructured(std::string_view value) {
  return EncodeFolded(value, [](std::string_view line) {
    return EncodeHeaderValue("UTF-8", line, "B");
  });
}

void UseCrLfLineEnds(std::string& text) {
  if (text.find("\r\n") != std::string::npos) return;
  const auto lfs = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  if (lfs == 0) return;
  // Grown in place from the back: no second copy of the mail.
  std::size_t from = text.size();
  text.resize(text.size() + lfs);
  std::size_t to = text.size();
  while (from > 0) {
    const char c = text[--from];
    text[--to] = c;
    if (c == '\n') text[--to] = '\r';
  }
}

bool ReadSpoolText(const std::string& path, std::string& text, std::string& encoding,
                   IoError& error) {
  encoding = "ansi-1031";
  if (!ReadTextFile(path, text, error, encoding)) return false;
  UseCrLfLineEnds(text);
  return true;
}

void ParseSpoolText(std::string text, LocalDateTime now, SpoolFile& f) {
  f.Content = std::move(text);
  const std::string_view content = f.Content;
  f.BodyStart = static_cast<std::size_t>(BodyOf(content).data() - content.data());
  f.SendAfter = now;
  for (const HeaderLine& h : ReadHeaderLines(HeaderBlockOf(content))) ApplyHeader(h, now, f);
}

void AddMissingDateAndMessageId(SpoolFile& f, const std::string& date,
                                const std::string& messageId) {
  std::string lines;
  if (!f.HasDate) AddLine(lines, "Date", date);
  if (!f.HasMessageId) AddLine(lines, "Message-ID", messageId);
  if (lines.empty()) return;
  f.HasDate = f.HasMessageId = true;
  f.SendHeaders += kCrLf;
  f.SendHeaders += lines;
  f.FileHeaders += kCrLf;
  f.FileHeaders += lines;
  // Content: the lines go after the last header line; a text without an empty line has none.
  const std::size_t end = HeaderBlockOf(f.Content).size();
  if (end == f.Content.size()) return;
  const std::string inserted = std::string(kCrLf) + lines;
  f.Content.insert(end, inserted);
  f.BodyStart += inserted.size();
}

std::string MailTextOf(const SpoolFile& f) {
  std::string text;
  text.reserve(f.SendHeaders.size() + 4 + f.Body().size());
  text.append(f.SendHeaders).append("\r\n\r\n").append(f.Body());
  return text;
}

std::vector<std::string_view> RecipientListsOf(const SpoolFile& f) { return {f.To, f.Cc, f.Bcc}; }

std::string RecipientsOf(const SpoolFile& f) {
  const RecipientLedger ledger =
      RecipientLedger::FromHeaders(f.SuccessAddresses, f.RefusedAddresses);
  return JoinDue(ledger.Due(RecipientListsOf(f)));
}

}  // namespace pv
