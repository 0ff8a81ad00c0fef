#include "support/io_error.h"

#include <cerrno>
#include <cstring>

namespace pv {

IoError IoError::FromErrno(int err, const std::string& what, bool directoryMissing) {
  IoError error;
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      error.number = directoryMissing ? kErrPathNotFound : kErrFileNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      error.number = kErrPermissionDenied;
      break;
    case ENOSPC:
    case EDQUOT:
      error.number = kErrDiskFull;
      break;
    case EIO:
      error.number = kErrDeviceIo;
      break;
    default:
      error.number = kErrPathFileAccess;
      break;
  }
  error.text = what + ": " + std::strerror(err);
  return error;
}

}  // namespace pv
