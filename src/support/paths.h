#pragma once
// Path operations. Both "/" and "\" count as separators where a path is taken apart; "/" is
// the separator that is added. The root of an absolute path is "/"; Linux has no drives or
// shares. Piece and suffix comparisons ignore ASCII case.
#include <string>
#include <string_view>

namespace pv {

inline constexpr char kSeparator = '/';

bool IsSeparator(char c);

std::string AddTrailingSeparator(std::string_view path);
std::string RemoveTrailingSeparator(std::string_view path);
std::string AppendIfMissing(std::string_view text, std::string_view suffix);
std::string RemoveSuffix(std::string_view text, std::string_view suffix);
std::string RemovePrefix(std::string_view text, std::string_view prefix);
void SplitPath(std::string_view path, std::string& directory, std::string& fileName);
void SplitFileName(std::string_view name, std::string& base, std::string& extension);
std::string DirectoryPart(std::string_view path);
std::string FileNamePart(std::string_view path);
std::string ExtensionOf(std::string_view path);
std::string JoinNameAndExtension(std::string_view base, std::string_view extension);
std::string ChangeExtension(std::string_view path, std::string_view extension);
// The root ("/" for an absolute path, "" for a relative one) and the directory part after it.
std::string PathRoot(std::string_view path, std::string& rest);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Deletes the file when it exists; read-only files too. False when missing or not deletable.
bool DeleteFileIfExists(const std::string& path);
// The path with each component as stored; names on Linux are stored as given.
std::string LongPathOf(const std::string& path);
// %NAME% references replaced by environment values; unknown names stay as written.
std::string ExpandEnvironment(std::string_view text);
// Creates a directory and its parents (mode 0755 before umask). True when it exists after.
bool MakeDirectories(const std::string& path, unsigned mode = 0755);

}  // namespace pv
