#include "support/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "support/text.h"

namespace pv {
namespace {

std::size_t LastSeparator(std::string_view path) { return path.find_last_of("/\\"); }

bool StatOf(const std::string& path, struct stat& st) {
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string AddTrailingSeparator(std::string_view path) {
  if (path.empty() || IsSeparator(path.back())) return std::string(path);
  return std::string(path) + kSeparator;
}

std::string RemoveTrailingSeparator(std::string_view path) {
  if (path.empty() || !IsSeparator(path.back())) return std::string(path);
  std::string rest;
  const std::string remaining(path.substr(0, path.size() - 1));
  if (remaining.empty() || EqualsNoCase(remaining, PathRoot(path, rest))) return std::string(path);
  return remaining;
}

std::string AppendIfMissing(std::string_view text, std::string_view suffix) {
  if (text.empty() || EndsWithNoCase(text, suffix)) return std::string(text);
  return std::string(text) + std::string(suffix);
}

std::string RemoveSuffix(std::string_view text, std::string_view suffix) {
  if (!EndsWithNoCase(text, suffix)) return std::string(text);
  return std::string(text.substr(0, text.size() - suffix.size()));
}

std::string RemovePrefix(std::string_view text, std::string_view prefix) {
  if (!StartsWithNoCase(text, prefix)) return std::string(text);
  return std::string(text.substr(prefix.size()));
}

void SplitPath(std::string_view path, std::string& directory, std::string& fileName) {
  const auto pos = LastSeparator(path);
  if (pos == std::string_view::npos) {
    directory.clear();
    fileName = std::string(path);
    return;
  }
  directory = std::string(path.substr(0, pos + 1));
  fileName = std::string(path.substr(pos + 1));
}

void SplitFileName(std::string_view name, std::string& base, std::string& extension) {
  const auto pos = name.rfind('.');
  if (pos == std::string_view::npos) {
    base = std::string(name);
    extension.clear();
    return;
  }
  base = std::string(name.substr(0, pos));
  extension = std::string(name.substr(pos + 1));
}

std::string DirectoryPart(std::string_view path) {
  std::string directory, fileName;
  SplitPath(path, directory, fileName);
  return directory;
}

std::string FileNamePart(std::string_view path) {
  std::string directory, fileName;
  SplitPath(path, directory, fileName);
  return fileName;
}

std::string ExtensionOf(std::string_view path) {
  std::string base, extension;
  SplitFileName(FileNamePart(path), base, extension);
  return extension;
}

std::string JoinNameAndExtension(std::string_view base, std::string_view extension) {
  if (extension.empty()) return std::string(base);
  if (!base.empty() && base.back() == '.') base.remove_suffix(1);
  if (extension.front() == '.') extension.remove_prefix(1);
  return std::string(base) + "." + std::string(extension);
}

std::string ChangeExtension(std::string_view path, std::string_view extension) {
  std::string directory, fileName, base, oldExtension;
  SplitPath(path, directory, fileName);
  SplitFileName(fileName, base, oldExtension);
  return AddTrailingSeparator(directory) + JoinNameAndExtension(base, extension);
}

std::string PathRoot(std::string_view path, std::string& rest) {
  rest.clear();
  const std::string directory = DirectoryPart(path);
  if (path.empty() || !IsSeparator(path.front())) {
    rest = directory;
    return "";
  }
  rest = directory.substr(1);
  return "/";
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return StatOf(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return StatOf(path, st) && S_ISDIR(st.st_mode);
}

bool DeleteFileIfExists(const std::string& path) {
  if (!FileExists(path)) return false;
  return ::unlink(path.c_str()) == 0;
}

std::string LongPathOf(const std::string& path) { return path; }

std::string ExpandEnvironment(std::string_view text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto open = text.find('%', pos);
    const auto close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(pos, open - pos));
    const std::string name(text.substr(open + 1, close - open - 1));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out.append(value);
      pos = close + 1;
    } else {
      // Unknown: keep the first "%" and the name; the closing "%" may open the next reference.
      out.append(text.substr(open, close - open));
      pos = close;
    }
  }
  out.append(text.substr(pos));
  return out;
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  const std::string parent = DirectoryPart(RemoveTrailingSeparator(path));
  if (!parent.empty() && parent != path) MakeDirectories(RemoveTrailingSeparator(parent), mode);
  return ::mkdir(path.c_str(), mode) == 0 || DirectoryExists(path);
}

}  // namespace pv
