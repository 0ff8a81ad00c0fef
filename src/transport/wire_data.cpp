#include "transport/wire_data.h"

#include <algorithm>

#include "support/codepage.h"
#include "support/text.h"

namespace pv {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kQpLine = 76;  // the longest quoted-printable line, its "=" included

// Calls byte(b) for each character's code page 1252 byte.
template <typename Sink>
void ForEachByte(std::string_view text, Sink&& byte) {
  for (std::size_t pos = 0; pos < text.size();) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
      byte(static_cast<char>(c));
      ++pos;
      continue;
    }
    std::size_t length = 1;
    byte(Encode1252Char(CodePointAt(text, pos, length)));
    pos += length;
  }
}

// Writes the wire form line by line; header lines are held until their end, to fold them.
class WireWriter {
 public:
  explicit WireWriter(std::string& out) : out_(out) {}

  void Feed(std::string_view text) {
    ForEachByte(text, [this](char b) { Byte(b); });
  }
  void EndHeaders() {
    if (!inHeaders_) return;
    if (pendingCr_ || !line_.empty()) EndLine();  // the header block's last line
    if (inHeaders_) EndLine();                     // the empty line
    pendingCr_ = false;
  }
  void Finish() {
    if (inHeaders_ && !line_.empty()) EndLine();
    if (!inHeaders_ && column_ > 0) out_ += kCrLf;
    out_ += ".\r\n";
  }
  bool eightBit() const { return eightBit_; }

 private:
  void Byte(char b) {
    if (b == '\n' && pendingCr_) {
      pendingCr_ = false;
      return;
    }
    pendingCr_ = b == '\r';
    if (b == '\r' || b == '\n') return EndLine();
    if (static_cast<unsigned char>(b) >= 0x80) eightBit_ = true;
    if (inHeaders_) {
      line_ += b;
      return;
    }
    if (column_ == kMaxWireLine) {
      out_ += "\r\n ";
      column_ = 1;
    }
    if (column_ == 0 && b == '.') out_ += '.';
    out_ += b;
    ++column_;
  }

  void EndLine() {
    if (!inHeaders_) {
      out_ += kCrLf;
      column_ = 0;
      return;
    }
    if (line_.empty()) inHeaders_ = false;  // the empty line that ends the header block
    FoldHeader(line_);
    line_.clear();
  }

  // Before the last blank within the limit (the blank starts the next line), else CR LF SPACE;
  // each piece at most 998 octets, an inserted space included.
  void FoldHeader(std::string_view line) {
    bool spaced = false;  // the piece in hand follows an inserted space
    while (line.size() + spaced > kMaxWireLine) {
      const std::size_t room = kMaxWireLine - spaced;
      const auto blank = line.find_last_of(" \t", room);
      const bool atBlank = blank != std::string_view::npos && blank > 0 &&
                           line.substr(0, blank).find_first_not_of(" \t") != std::string_view::npos;
      const std::size_t cut = atBlank ? blank : room;
      Emit(line.substr(0, cut), spaced);
      spaced = !atBlank;
      line.remove_prefix(cut);
    }
    Emit(line, spaced);
  }

  void Emit(std::string_view piece, bool spaced) {
    if (spaced) out_ += ' ';
    else if (piece.starts_with('.')) out_ += '.';
    out_.append(piece).append(kCrLf);
  }

  std::string& out_;
  std::string line_;
  bool inHeaders_ = true;
  bool pendingCr_ = false;
  bool eightBit_ = false;
  std::size_t column_ = 0;
};

}  // namespace

WireData PrepareWireData(std::string_view headers, std::string_view body) {
  WireData wire;
  wire.bytes.reserve(headers.size() + body.size() + body.size() / 64 + 16);
  WireWriter writer(wire.bytes);
  writer.Feed(headers);
  writer.EndHeaders();
  writer.Feed(body);
  writer.Finish();
  wire.eightBit = writer.eightBit();
  return wire;
}

WireData PrepareWireData(std::string_view text) {
  WireData wire;
  wire.bytes.reserve(text.size() + text.size() / 64 + 16);
  WireWriter writer(wire.bytes);
  writer.Feed(text);
  writer.Finish();
  wire.eightBit = writer.eightBit();
  return wire;
}

bool HasEightBitText(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// ---- conversion to 7 bit -------------------------------------------------------------------

namespace {

struct Entity {
  std::string_view headers;  // without the CR LF that ends the last header line
  std::string_view body;
  bool separated = false;  // an empty line came between them
};

Entity SplitEntity(std::string_view text) {
  if (text.starts_with(kCrLf)) return {{}, text.substr(2), true};
  const auto end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) return {text, {}, false};
  return {text.substr(0, end), text.substr(end + 4), true};
}

// Each header field with its continuation lines, as one view.
std::vector<std::string_view> HeaderFields(std::string_view headers) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos <= headers.size();) {
    auto end = headers.find(kCrLf, pos);
    if (end == std::string_view::npos) end = headers.size();
    const bool more =
        end + 2 < headers.size() && (headers[end + 2] == ' ' || headers[end + 2] == '\t');
    if (!more) {
      fields.push_back(headers.substr(start, end - start));
      start = end + 2;
    }
    pos = end + 2;
  }
  return fields;
}

// Whether the field is named `name` (any case; blanks before the colon allowed).
bool IsField(std::string_view field, std::string_view name) {
  const auto colon = field.find(':');
  return colon != std::string_view::npos && colon >= name.size() &&
         StartsWithNoCase(field, name) &&
         Trim(field.substr(name.size(), colon - name.size())).empty();
}

// The value of the first field `name`, unfolded, lower case.
std::string FieldValue(std::string_view headers, std::string_view name) {
  for (std::string_view field : HeaderFields(headers)) {
    if (!IsField(field, name)) continue;
    std::string value;
    for (char c : field.substr(field.find(':') + 1))
      if (c != '\r' && c != '\n') value += c;
    return ToLowerAscii(Trim(value));
  }
  return {};
}

// The boundary parameter of the Content-Type field, as written (boundaries are compared with
// their case).
std::string BoundaryOf(std::string_view headers) {
  for (std::string_view field : HeaderFields(headers)) {
    if (!IsField(field, "content-type")) continue;
    const auto at = FindNoCase(field, "boundary=");
    if (at == std::string_view::npos) return {};
    std::string_view value = field.substr(at + 9);
    if (value.starts_with('"')) return std::string(value.substr(1, value.find('"', 1) - 1));
    const auto end = value.find_first_of("; \t\r\n");
    return std::string(value.substr(0, end));
  }
  return {};
}

void AppendQpLine(std::string_view line, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t column = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto b = static_cast<unsigned char>(line[i]);
    const bool blank = b == ' ' || b == '\t';
    const bool literal = (b >= 33 && b <= 126 && b != '=') || (blank && i + 1 < line.size());
    const std::size_t width = literal ? 1 : 3;
    if (column + width > kQpLine - 1) {
      out += "=\r\n";
      column = 0;
    }
    if (literal) {
      out += static_cast<char>(b);
    } else {
      out += '=';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
    column += width;
  }
}

// Writes the converted mail to `out`, or, given a wire writer, through `out` in pieces to it,
// so that the converted text is never held whole.
class SevenBitConverter {
 public:
  SevenBitConverter(std::string& out, WireWriter* writer) : out_(out), writer_(writer) {}
  const std::string& error() const { return error_; }

  void Flush() {
    if (writer_ == nullptr || out_.empty()) return;
    writer_->Feed(out_);
    out_.clear();
  }

  void Convert(const Entity& e) {
    if (!error_.empty()) return;
    if (HasEightBitText(e.headers)) return Fail("8-bit characters in a header");
    const std::string type = FieldValue(e.headers, "content-type");
    const std::string boundary = BoundaryOf(e.headers);
    if (type.starts_with("multipart/") && !boundary.empty()) {
      // A bound on the nesting keeps a crafted mail from exhausting the stack.
      if (depth_ == kMaxDepth) return Fail("multipart entities nested deeper than 64");
      ++depth_;
      Multipart(e, boundary);
      --depth_;
      return;
    }
    if (!HasEightBitText(e.body)) return Copy(e, e.headers);
    if (type.starts_with("message/"))
      return Fail("8-bit characters in a " + type.substr(0, type.find(';')) + " part");
    const std::string encoding = FieldValue(e.headers, "content-transfer-encoding");
    if (!encoding.empty() && encoding != "7bit" && encoding != "8bit")
      return Fail("8-bit characters in a part encoded " + encoding);
    std::string headers;
    for (std::string_view field : HeaderFields(e.headers)) {
      if (field.empty() || IsField(field, "content-transfer-encoding")) continue;
      headers.append(field).append(kCrLf);
    }
    headers += "Content-Transfer-Encoding: quoted-printable";
    Put(headers);
    Put("\r\n\r\n");
    PutQuotedPrintable(e.body);
  }

 private:
  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
  }

  void Put(std::string_view text) {
    if (writer_ != nullptr && text.size() >= kPiece) {
      Flush();
      writer_->Feed(text);
      return;
    }
    out_.append(text);
    if (out_.size() >= kPiece) Flush();
  }

  void Copy(const Entity& e, std::string_view headers) {
    Put(headers);
    if (e.separated) Put(headers.empty() ? "\r\n" : "\r\n\r\n");
    Put(e.body);
  }

  // The text's bytes as quoted-printable; CR LF (and a lone LF) stay line breaks.
  void PutQuotedPrintable(std::string_view text) {
    std::string line;
    bool pendingCr = false;
    ForEachByte(text, [&](char b) {
      if (pendingCr && b != '\n') line += '\r';
      pendingCr = b == '\r';
      if (pendingCr) return;
      if (b != '\n') {
        line += b;
        return;
      }
      AppendQpLine(line, out_);
      out_ += kCrLf;
      line.clear();
      if (out_.size() >= kPiece) Flush();
    });
    if (pendingCr) line += '\r';
    AppendQpLine(line, out_);
  }

  void Outside(std::string_view text) {
    if (HasEightBitText(text))
      return Fail("8-bit characters outside the parts of a multipart entity");
    Put(text);
  }

  // The delimiter lines "--boundary" and "--boundary--" (RFC 2046 5.1.1) split the body; the
  // CR LF before a delimiter belongs to it.
  void Multipart(const Entity& e, const std::string& boundary) {
    Put(e.headers);
    if (e.separated) Put(e.headers.empty() ? "\r\n" : "\r\n\r\n");
    const std::string_view body = e.body;
    const std::string delimiter = "--" + boundary;
    bool inPart = false, closed = false;
    std::size_t partStart = 0;
    for (std::size_t lineStart = 0; lineStart <= body.size() && !closed;) {
      auto lineEnd = body.find(kCrLf, lineStart);
      if (lineEnd == std::string_view::npos) lineEnd = body.size();
      const std::string_view line = body.substr(lineStart, lineEnd - lineStart);
      const std::string_view after =
          line.starts_with(delimiter) ? Trim(line.substr(delimiter.size()), " \t") : "x";
      if (after.find_first_not_of('-') == std::string_view::npos) {
        closed = line.substr(delimiter.size()).starts_with("--");
        const std::size_t contentEnd = lineStart >= 2 ? lineStart - 2 : lineStart;
        const std::string_view content = body.substr(partStart, contentEnd - partStart);
        if (inPart) Convert(SplitEntity(content));
        else Outside(content);
        Put(body.substr(contentEnd, lineEnd - contentEnd));
        if (lineEnd < body.size()) Put(kCrLf);
        inPart = true;
        partStart = std::min(lineEnd + 2, body.size());
      }
      lineStart = lineEnd + 2;
    }
    const std::string_view rest = body.substr(partStart);
    if (inPart && !closed) Convert(SplitEntity(rest));
    else Outside(rest);
  }

  static constexpr std::size_t kPiece = 64 * 1024;
  static constexpr int kMaxDepth = 64;
  int depth_ = 0;
  std::string& out_;
  WireWriter* writer_;
  std::string error_;
};

}  // namespace

SevenBitMail ConvertToSevenBit(std::string_view headers, std::string_view body) {
  SevenBitMail mail;
  mail.text.reserve(headers.size() + body.size() + body.size() / 4);
  SevenBitConverter converter(mail.text, nullptr);
  converter.Convert({headers, body, true});
  mail.error = converter.error();
  if (!mail.error.empty()) mail.text.clear();
  return mail;
}

WireData PrepareSevenBitWireData(std::string_view headers, std::string_view body,
                                 std::string& error) {
  WireData wire;
  wire.bytes.reserve(headers.size() + body.size() + body.size() / 4);
  WireWriter writer(wire.bytes);
  std::string piece;
  SevenBitConverter converter(piece, &writer);
  converter.Convert({headers, body, true});
  converter.Flush();
  writer.Finish();
  error = converter.error();
  if (!error.empty()) wire.bytes = std::string();
  return wire;
}

}  // namespace pv
