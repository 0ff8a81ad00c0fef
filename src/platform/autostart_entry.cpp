#include "platform/autostart_entry.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "platform/user_dirs.h"
#include "support/durable_write.h"

namespace pv {
namespace {

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kGroup = "[Desktop Entry]";

// The string escapes of a desktop entry value: no raw line breaks, a backslash doubled.
std::string EscapeValue(std::string_view raw) {
  std::string out;
  for (char c : raw) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return EscapeValue(out);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string DirectoryPart(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
}

// mkdir -p with mode 0700 for every directory it makes.
IoError MakeDirectories(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return IoError::FromErrno(errno, "cannot create " + part, errno == ENOENT);
    }
  }
  return {};
}

}  // namespace

std::string QuoteExecArgument(std::string_view argument) {
  const bool quote = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
  std::string raw;
  if (quote) raw += '"';
  for (char c : argument) {
    if (c == '%') {
      raw += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) raw += '\\';
    raw += c;
  }
  if (quote) raw += '"';
  return EscapeValue(raw);
}

std::string ExecLine(std::string_view program, const std::vector<std::string>& args) {
  std::string line = QuoteExecArgument(program);
  for (const std::string& arg : args) line += ' ' + QuoteExecArgument(arg);
  return line;
}

std::string AutostartEntryText(std::string_view programPath, const std::vector<std::string>& args,
                               std::string_view name, std::string_view comment) {
  std::string text = std::string(kGroup) + "\nType=Application\n";
  text += "Name=" + OneLine(name) + "\n";
  if (!comment.empty()) text += "Comment=" + OneLine(comment) + "\n";
  text += "Exec=" + ExecLine(programPath, args) + "\n";
  const std::string directory = DirectoryPart(programPath);
  if (!directory.empty()) text += "Path=" + OneLine(directory) + "\n";
  text += "Icon=postvane\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return text;
}

bool AutostartEntryEnabled(std::string_view text) {
  bool inGroup = false;
  bool sawGroup = false;
  bool enabled = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inGroup = line == kGroup;
      sawGroup = sawGroup || inGroup;
      continue;
    }
    const size_t eq = line.find('=');
    if (!inGroup || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (key == "Hidden" && value == "true") enabled = false;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") enabled = false;
  }
  return sawGroup && enabled;
}

std::string AutostartEntryPath() { return ConfigHome() + "/autostart/Postvane.desktop"; }

bool AutostartEnabled() {
  std::string text;
  if (ReadWholeFile(AutostartEntryPath(), text)) return false;
  return AutostartEntryEnabled(text);
}

IoError CreateAutostartEntry(std::string_view programPath, const std::vector<std::string>& args) {
  if (IoError error = MakeDirectories(ConfigHome() + "/autostart")) return error;
  DurableWriteOptions options;
  options.newFileMode = 0644;
  options.exactMode = true;
  return WriteFileDurably(AutostartEntryPath(), AutostartEntryText(programPath, args), options);
}

IoError RemoveAutostartEntry() {
  const std::string path = AutostartEntryPath();
  if (std::remove(path.c_str()) == 0 || errno == ENOENT) return {};
  return IoError::FromErrno(errno, "cannot remove " + path);
}

}  // namespace pv
