#include "scripting/spool_writer.h"

#include <openssl/rand.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "support/date_time.h"
#include "support/durable_write.h"
#include "support/paths.h"

namespace pv {
namespace {

// A name taken between the choice and the link (another writer, same second and pid
// impossible, same random part unlikely) is chosen anew; this bounds a broken directory.
constexpr int kNameAttempts = 16;
constexpr mode_t kSpoolFileMode = 0640;

unsigned RandomWord() {
  unsigned value = 0;
  if (RAND_bytes(reinterpret_cast<unsigned char*>(&value), sizeof value) != 1)
    value = std::random_device{}();
  return value;
}

}  // namespace

std::string NewSpoolFileName(std::string_view extension) {
  const LocalDateTime now = LocalDateTime::Now();
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d-%ld-%08x", now.Year(), now.Month(),
                now.Day(), now.Hour(), now.Minute(), now.Second(),
                static_cast<long>(::getpid()), RandomWord());
  return std::string(text) + "." + std::string(extension);
}

SpoolWriteResult WriteSpoolFile(const std::string& directory, std::string_view extension,
                                std::string_view bytes) {
  if (directory.empty()) return {"", "no spool directory", false};
  if (extension.empty() || extension.find('/') != std::string_view::npos)
    return {"", "invalid spool file extension \"" + std::string(extension) + "\"", false};
  DurableWriteOptions options;
  options.newFileMode = kSpoolFileMode;
  options.exactMode = true;
  options.failIfExists = true;
  IoError error;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string path = AddTrailingSeparator(directory) + NewSpoolFileName(extension);
    error = WriteFileDurably(path, bytes, options);
    if (!error) return {path, "", false};
    // A taken name is the only failure a new name can cure.
    if (error.number != kErrPathFileAccess || !FileExists(path)) break;
  }
  const bool temporary = error.number == kErrDiskFull || error.number == kErrDeviceIo;
  return {"", "cannot write a spool file into " + directory + ": " + error.text, temporary};
}

}  // namespace pv
