#pragma once
// The error of a file operation: the number the callers test (0 none, 53 file not found,
// 76 path not found, others as below) and a text for people.
#include <string>

namespace pv {

enum FileErrorNumber : int {
  kNoError = 0,
  kErrDeviceIo = 57,
  kErrDiskFull = 61,
  kErrPermissionDenied = 70,
  kErrFileNotFound = 53,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
};

struct IoError {
  int number = kNoError;
  std::string text;

  explicit operator bool() const { return number != kNoError; }
  // From an errno value; `directoryMissing` tells ENOENT on the file itself (53) from a
  // missing directory (76), which the caller decides by looking at the directory.
  static IoError FromErrno(int err, const std::string& what, bool directoryMissing = false);
};

}  // namespace pv
