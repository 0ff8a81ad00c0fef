#pragma once
// The debug line file, "Postvane_debug.out" in the program directory, written with "debug=1".
#include <string>
#include <vector>

namespace pv {

// The parts joined with " - ", appended as one CR LF line. Failures are ignored.
void WriteDebugLine(const std::vector<std::string>& parts);
// WriteDebugLine with the current time in front, only when the process runs with "debug=1".
// Safe from any thread.
void TraceDebug(const std::vector<std::string>& parts);
// The file's path for a program directory.
std::string DebugFilePath(const std::string& programDirectory);

}  // namespace pv
