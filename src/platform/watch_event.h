#pragma once
// What a spooler tells the programs that watch it (the request WATCH on the control channel):
// one line per event, fields separated by tabs, each field escaped so that it holds no tab and
// no line end. "BALLOON\t<1|2|3>\t<title>\t<text>" is a notification as the spooler's own tray
// would show it (icon 1 information, 2 warning, 3 error); "CRITICAL\t<text>" the critical
// message. Pure.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

inline constexpr const char* kWatchRequest = "WATCH";

// `\` as `\\`, tab as `\t`, line feed as `\n`, carriage return as `\r`.
std::string EscapeWatchField(std::string_view field);
// The reverse; an unknown escape keeps its character.
std::string UnescapeWatchField(std::string_view field);

std::string FormatWatchEvent(const std::vector<std::string>& fields);
// The fields of a line, unescaped; nothing for an empty line.
std::vector<std::string> ParseWatchEvent(std::string_view line);

struct WatchedBalloon {
  int icon;  // 1, 2 or 3
  std::string title, text;
};

std::string FormatBalloonEvent(int icon, const std::string& title, const std::string& text);
std::string FormatCriticalEvent(const std::string& text);
// A BALLOON line with a known icon, else nothing.
std::optional<WatchedBalloon> ParseBalloonEvent(std::string_view line);
// The text of a CRITICAL line, else nothing.
std::optional<std::string> ParseCriticalEvent(std::string_view line);

}  // namespace pv
