#pragma once
// The names in a spool directory that a spool run or the recovery at start looks at.
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// Whether name matches a file-name pattern of "*" (any run of characters) and "?" (any one
// character), compared without regard to ASCII case.
bool MatchesNamePattern(std::string_view name, std::string_view pattern);

// The regular files in directory (symbolic links are not followed) whose names match pattern,
// in the order the file system yields them. Hidden names (a leading dot, like the temp files
// of durable writes) are left out. Empty when the directory cannot be read.
std::vector<std::string> ListSpoolNames(const std::string& directory, std::string_view pattern);

}  // namespace pv
