#include "shell/debug_line.h"

#include <mutex>

#include "shell/startup.h"
#include "support/date_time.h"
#include "support/paths.h"
#include "support/textfile.h"

namespace pv {

std::string DebugFilePath(const std::string& programDirectory) {
  return AddTrailingSeparator(programDirectory) + kApplicationTitle + "_debug.out";
}

namespace {

std::mutex debugFileMutex;  // one line at a time, whichever thread writes it

}  // namespace

void WriteDebugLine(const std::vector<std::string>& parts) {
  std::string line;
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? "" : " - ") + parts[i];
  IoError error;
  const std::lock_guard lock(debugFileMutex);
  WriteTextFile(DebugFilePath(Startup().ProgramDirectory), line + "\r\n", true, "", error, "");
}

void TraceDebug(const std::vector<std::string>& parts) {
  if (!Startup().DebugMode) return;
  std::vector<std::string> line{FormatGeneralDate(LocalDateTime::Now())};
  line.insert(line.end(), parts.begin(), parts.end());
  WriteDebugLine(line);
}

}  // namespace pv
