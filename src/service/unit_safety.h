#pragma once
// Whether a unit file is safe to hand to systemd as a service of the system: systemd runs it
// with root's authority (root starts it, root reads which user it runs as), so neither the unit
// file nor the program its ExecStart names may be something a user could change.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace pv {

// The program of the first ExecStart= of a unit file's [Service] section, as systemd reads
// it: the prefixes "@-:+!" dropped, a quoted word ("..." or '...') unquoted (a backslash
// takes the next character as it is), "%%" as "%". "" when there is none.
std::string ExecStartProgram(std::string_view unitText);

// Why a user other than root (or `trusted`, for tests) could change this path or what it
// leads to: the file itself, each directory above it, and, where a symbolic link lies on the
// way, the link's directory and the link's target with each directory above that. A
// path is safe when every one of them is owned by root (or `trusted`) and writable neither by
// others nor, unless the group is root's, by the group. "" when it is safe.
std::string PathSafetyProblem(const std::string& path, uid_t trusted = 0);

// Why the unit file is not safe for a root service: it or its ExecStart program fails
// PathSafetyProblem, it cannot be read, or it names no absolute program. "" when it is safe.
std::string UnitSafetyProblem(const std::string& unitFile, uid_t trusted = 0);

}  // namespace pv
