#pragma once
// The check of a settings file: what in it is probably not what its writer meant. It tells
// only; the load reads every value the way it always does (a bad number still reads as its
// leading number, an unknown key is still ignored).
//
// Told: unknown sections and keys (with the closest known name), a key in the wrong section,
// a key or a section given twice (the first counts), lines that are no entry, values that do
// not read as their type (with what they read as), enciphered values that do not decipher to
// text, and, through a SettingsProbe, spool and log directories the spooler cannot write and a
// missing system log socket.
#include <string>
#include <vector>

#include "settings/ini_document.h"

namespace pv {

enum class FindingSeverity {
  Warning,  // works, but probably not as meant
  Error,    // the value cannot do its job (unreadable, undecipherable, no such directory)
};

struct SettingFinding {
  FindingSeverity severity = FindingSeverity::Warning;
  std::string section;  // "" for the file as a whole
  std::string key;      // "" for a section or the file
  std::string text;     // the whole message, naming the key
};

// What the check asks of the system.
class SettingsProbe {
 public:
  virtual ~SettingsProbe() = default;
  // "" when the directory exists and the spooler's user may create files in it; else why not
  // ("does not exist", "is not writable by postvane").
  virtual std::string DirectoryProblem(const std::string& directory) = 0;
  // "" when the system log socket is there; else what is missing.
  virtual std::string SystemLogProblem() = 0;
};

// Every finding, in file order, then those of the probe. defaultSpoolDir: the spool directory
// when the file names none (the program directory); defaultLogDir: the log directory when the
// file names none ("": the spool directory).
std::vector<SettingFinding> CheckSettings(const IniDocument& document, SettingsProbe& probe,
                                          const std::string& defaultSpoolDir,
                                          const std::string& defaultLogDir = "");

}  // namespace pv
