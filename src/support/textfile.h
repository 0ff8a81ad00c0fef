#pragma once
// Text files read and written whole (or appended) in named encodings:
// "ansi", "ansi-1031" (code page 1252), "" (1252 to read, the system code page to write),
// "utf8", "utf16le", "utf16" (write only), "utf16be", "binary", or a code-page number.
#include <string>
#include <string_view>
#include <sys/types.h>

#include "support/io_error.h"

namespace pv {

// "utf8", "utf16le", "utf16be", "utf32le", "utf32be" or "" from the first four bytes.
std::string DetectByteOrderMark(std::string_view firstBytes);

// Reads the file (length -1) or its first |length| bytes and decodes it. A byte-order mark
// replaces the caller's encoding, which the caller can read back.
bool ReadTextFile(const std::string& path, std::string& text, IoError& error,
                  std::string& encoding, long long length = -1);

// Writes text as a new file (atomically, see durable_write.h) or appends it. A non-empty
// backupExtension copies the existing file to ChangeExtension(path, backupExtension) first;
// it may not be the file's own extension. When appending, the file's own mark decides the
// encoding (no mark: the system code page). newFileMode is the mode of a file made anew (the
// umask applies).
bool WriteTextFile(const std::string& path, std::string_view text, bool append,
                   const std::string& backupExtension, IoError& error,
                   const std::string& encoding, mode_t newFileMode = 0666);

// Encodes and decodes by encoding name as the two operations above do (no mark handling).
std::string DecodeByEncodingName(std::string_view bytes, const std::string& encoding);

}  // namespace pv
