#include "shell/debug_line.h"

#include "shell/startup.h"
#include "support/paths.h"
#include "support/textfile.h"

namespace pv {

std::string DebugFilePath(const std::string& programDirectory) {
  return AddTrailingSeparator(programDirectory) + kApplicationTitle + "_debug.out";
}

void WriteDebugLine(const std::vector<std::string>& parts) {
  std::string line;
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? "" : " - ") + parts[i];
  IoError error;
  WriteTextFile(DebugFilePath(Startup().ProgramDirectory), line + "\r\n", true, "", error, "");
}

}  // namespace pv
