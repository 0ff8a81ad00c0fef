#include "platform/watch_event.h"

namespace pv {

std::string EscapeWatchField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UnescapeWatchField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char next = field[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::string FormatWatchEvent(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i)
    line += (i ? "\t" : "") + EscapeWatchField(fields[i]);
  return line;
}

std::vector<std::string> ParseWatchEvent(std::string_view line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(UnescapeWatchField(line.substr(start, tab - start)));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::string FormatBalloonEvent(int icon, const std::string& title, const std::string& text) {
  return FormatWatchEvent({"BALLOON", std::to_string(icon), title, text});
}

std::string FormatCriticalEvent(const std::string& text) {
  return FormatWatchEvent({"CRITICAL", text});
}

std::optional<WatchedBalloon> ParseBalloonEvent(std::string_view line) {
  const std::vector<std::string> fields = ParseWatchEvent(line);
  if (fields.size() != 4 || fields[0] != "BALLOON") return std::nullopt;
  if (fields[1] != "1" && fields[1] != "2" && fields[1] != "3") return std::nullopt;
  return WatchedBalloon{fields[1][0] - '0', fields[2], fields[3]};
}

std::optional<std::string> ParseCriticalEvent(std::string_view line) {
  const std::vector<std::string> fields = ParseWatchEvent(line);
  if (fields.size() != 2 || fields[0] != "CRITICAL") return std::nullopt;
  return fields[1];
}

}  // namespace pv
