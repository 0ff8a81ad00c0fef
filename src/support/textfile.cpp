#include "support/textfile.h"

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

#include "support/codepage.h"
#include "support/durable_write.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

// The code page that an encoding name stands for: its leading decimal number ("utf32le" -> 0).
CodePage CodePageOfName(const std::string& name) {
  CodePage value = 0;
  for (char c : name) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<CodePage>(c - '0');
    if (value > 0xFFFFFF) return 0;
  }
  return value;
}

bool ParentExists(const std::string& path) {
  const std::string directory = DirectoryPart(path);
  return DirectoryExists(directory.empty() ? std::string(".") : directory);
}

bool ReadAt(int fd, std::string& bytes, std::size_t count, off_t offset) {
  bytes.assign(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, bytes.data() + done, count - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return true;
}

// The bytes of a file written anew: a mark first for the UTF encodings. An empty text still
// gets its mark, so the file tells its encoding.
Bytes EncodeNewFile(std::string_view text, const std::string& encoding) {
  Bytes out;
  if (encoding == "utf8") {
    if (!EncodeUtf8(text, out, 3)) EncodeUtf8(DecodeUtf8(text), out, 3);
    if (out.empty()) out.assign(3, '\0');
    out[0] = '\xEF'; out[1] = '\xBB'; out[2] = '\xBF';
  } else if (encoding == "utf16" || encoding == "utf16le" || encoding == "utf16be") {
    const bool bigEndian = encoding == "utf16be";
    if (!EncodeUtf16(text, out, 2, bigEndian)) out.assign(2, '\0');
    out[0] = bigEndian ? '\xFE' : '\xFF';
    out[1] = bigEndian ? '\xFF' : '\xFE';
  } else {
    out = [&] {
      Bytes plain;
      if (encoding == "binary") EncodeUtf16(text, plain, 0, false);
      else if (encoding == "ansi" || encoding.empty()) EncodeCodePage(text, DefaultCodePage(), plain);
      else if (encoding == "ansi-1031") EncodeCodePage(text, kCodePage1252, plain);
      else EncodeCodePage(text, CodePageOfName(encoding), plain);
      return plain;
    }();
  }
  return out;
}

// The bytes of an appended piece: never a mark.
Bytes EncodeAppended(std::string_view text, const std::string& encoding) {
  Bytes out;
  if (encoding == "utf8") EncodeUtf8(DecodeUtf8(text), out, 0);
  else if (encoding == "utf16" || encoding == "utf16le") EncodeUtf16(text, out, 0, false);
  else if (encoding == "utf16be") EncodeUtf16(text, out, 0, true);
  else return EncodeNewFile(text, encoding);
  return out;
}

IoError AppendToFile(const std::string& path, std::string_view text, mode_t newFileMode) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, newFileMode));
  if (!fd.ok()) return IoError::FromErrno(errno, "cannot open " + path, !ParentExists(path));
  std::string head;
  if (!ReadAt(fd.get(), head, 4, 0)) return IoError::FromErrno(errno, "cannot read " + path);
  std::string encoding = DetectByteOrderMark(head);
  if (encoding.empty()) encoding = "ansi";
  if (!WriteAll(fd.get(), EncodeAppended(text, encoding)))
    return IoError::FromErrno(errno, "cannot write " + path);
  if (!fd.Close()) return IoError::FromErrno(errno, "cannot close " + path);
  return {};
}

IoError MakeBackup(const std::string& path, const std::string& backupExtension) {
  std::string bytes;
  if (IoError error = ReadWholeFile(path, bytes)) return error;
  return WriteFileDurably(ChangeExtension(path, backupExtension), bytes);
}

}  // namespace

std::string DetectByteOrderMark(std::string_view firstBytes) {
  unsigned char b[4] = {0, 0, 0, 0};
  for (std::size_t i = 0; i < 4 && i < firstBytes.size(); ++i)
    b[i] = static_cast<unsigned char>(firstBytes[i]);
  if (b[0] == 0xFF && b[1] == 0xFE) return (b[2] != 0 || b[3] != 0) ? "utf16le" : "utf32le";
  if (b[0] == 0xFE && b[1] == 0xFF) return "utf16be";
  if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return "utf8";
  if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) return "utf32be";
  return "";
}

std::string DecodeByEncodingName(std::string_view bytes, const std::string& encodingName) {
  const std::string encoding = ToLowerAscii(encodingName);
  if (encoding == "binary") return DecodeUtf16(bytes, false, 0);
  if (encoding == "ansi") return DecodeCodePage(bytes, DefaultCodePage());
  if (encoding == "ansi-1031" || encoding.empty()) return DecodeCodePage(bytes, kCodePage1252);
  if (encoding == "utf8") return DecodeUtf8(bytes, 3);
  if (encoding == "utf16le") return DecodeUtf16(bytes, false, 2);
  if (encoding == "utf16be") return DecodeUtf16(bytes, true, 2);
  return DecodeCodePage(bytes, CodePageOfName(encoding));
}

bool ReadTextFile(const std::string& path, std::string& text, IoError& error,
                  std::string& encoding, long long length) {
  text.clear();
  error = {};
  if (!FileExists(path)) {
    error = {kErrFileNotFound, "file not found: " + path};
    return false;
  }
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    error = IoError::FromErrno(errno, "cannot open " + path);
    return false;
  }
  std::string head;
  if (!ReadAt(fd.get(), head, 4, 0)) {
    error = IoError::FromErrno(errno, "cannot read " + path);
    return false;
  }
  const std::string mark = DetectByteOrderMark(head);
  if (!mark.empty()) encoding = mark;
  const auto size = static_cast<long long>(st.st_size);
  const long long count = std::min(length == -1 ? size : std::llabs(length), size);
  if (count <= 0) return true;
  std::string bytes;
  if (!ReadAt(fd.get(), bytes, static_cast<std::size_t>(count), 0)) {
    error = IoError::FromErrno(errno, "cannot read " + path);
    return false;
  }
  text = DecodeByEncodingName(bytes, encoding);
  return true;
}

bool WriteTextFile(const std::string& path, std::string_view text, bool append,
                   const std::string& backupExtension, IoError& error,
                   const std::string& encoding, mode_t newFileMode) {
  error = {};
  if (FileExists(path) && !backupExtension.empty()) {
    if (EqualsNoCase(backupExtension, ExtensionOf(path))) return false;
    if ((error = MakeBackup(path, backupExtension))) return false;
  }
  if (append) error = AppendToFile(path, text, newFileMode);
  else
    error = WriteFileDurably(path, EncodeNewFile(text, ToLowerAscii(encoding)), {newFileMode});
  return !error;
}

}  // namespace pv
