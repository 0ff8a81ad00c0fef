#include "engine/spool_queue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/give_up.h"
#include "engine/spool_directory.h"
#include "engine/spool_file.h"
#include "engine/working_file.h"
#include "support/paths.h"
#include "support/text.h"
#include "support/textfile.h"
#include "support/unique_fd.h"

namespace pv {
namespace {

// The listing reads no more of a mail than its header block needs.
constexpr long long kListedBytes = 256 * 1024;

QueueResult Done(std::string text) { return {true, std::move(text)}; }
QueueResult Refused(const std::string& name, const std::string& why) {
  return {false, "'" + name + "' " + why};
}

std::string WorkingSuffix() { return "." + std::string(kWorkingExtension); }

// A queue file opened without following a link and locked exclusively without waiting; the
// fd only when the lock is ours and path still names the file that was opened. why tells
// what stood in the way.
UniqueFd LockQueueFile(const std::string& path, struct stat& held, std::string& why) {
  // O_NONBLOCK: a FIFO under a queue name must not hold the tool.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) {
    why = errno == ENOENT ? "is not in the spool directory" : std::string(std::strerror(errno));
    return UniqueFd();
  }
  if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) {
    why = "is not a regular file";
    return UniqueFd();
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    why = "is in hand (a spool run or its writer holds its lock); left as it is";
    return UniqueFd();
  }
  struct stat named {};
  if (::lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    why = "was taken meanwhile (by a spool run, say); left as it is";
    return UniqueFd();
  }
  return fd;
}

// Whether another process holds the file's lock now (a spool run about to claim it, or a
// writer). The probe is a shared lock given up at once.
bool LockedByOther(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  return fd.ok() && ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// A name that only this process uses, hidden from every scan; its form is that of a durable
// write's temp file, so a start removes it once this process has gone.
std::string PrivateNameFor(const std::string& directory, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  return directory + "." + name + ".tmp" + std::to_string(::getpid()) + "-" +
         std::to_string(counter.fetch_add(1));
}

std::string RealDirectory(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.empty() ? "." : path.c_str(), resolved) == nullptr) return "";
  return AddTrailingSeparator(resolved);
}

LocalDateTime WholeSecond(LocalDateTime when) {
  return LocalDateTime(when.Milliseconds() - when.Milliseconds() % 1000);
}

void FillEntryFromFile(const std::string& path, LocalDateTime now, QueueEntry& entry) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    entry.size = static_cast<std::int64_t>(st.st_size);
    entry.ageSeconds = std::max<std::int64_t>(0, ::time(nullptr) - st.st_mtime);
  }
  if (entry.state == QueueState::Waiting && LockedByOther(path)) entry.state = QueueState::InHand;
  std::string text;
  std::string encoding = "ansi-1031";
  IoError error;
  if (ReadTextFile(path, text, error, encoding, kListedBytes)) FillQueueEntry(std::move(text), now, entry);
}

}  // namespace

std::string_view QueueStateName(QueueState state) {
  switch (state) {
    case QueueState::Waiting: return "waiting";
    case QueueState::Due: return "due";
    case QueueState::Held: return "held";
    case QueueState::InHand: return "in hand";
    case QueueState::Error: return "error";
  }
  return "";
}

bool QueueStateOfName(std::string_view name, std::string_view pattern, QueueState& state) {
  if (name.empty() || name.front() == '.') return false;
  if (MatchesNamePattern(name, pattern)) state = QueueState::Waiting;
  else if (EndsWithNoCase(name, kHeldSuffix) && name.size() > kHeldSuffix.size())
    state = QueueState::Held;
  else if (EndsWithNoCase(name, kErrorSuffix)) state = QueueState::Error;
  else if (EndsWithNoCase(name, WorkingSuffix())) state = QueueState::InHand;
  else return false;
  return true;
}

void FillQueueEntry(std::string text, LocalDateTime now, QueueEntry& entry) {
  UseCrLfLineEnds(text);
  SpoolFile file;
  ParseSpoolText(std::move(text), now, file);
  entry.sender = file.From;
  entry.subject = file.Subject;
  entry.recipients = RecipientsOf(file);
  entry.attempts = file.RetryCount;
  bool error = false;
  entry.nextAttempt = now < file.SendAfter ? FormatIsoDateTime(file.SendAfter, error) : "";
  if (entry.state != QueueState::Waiting) return;
  if (file.IsErrorMime) entry.state = QueueState::Error;  // never due
  else if (!(now < file.SendAfter)) entry.state = QueueState::Due;
}

std::string HeldNameOf(std::string_view spoolName) {
  return std::string(spoolName) + std::string(kHeldSuffix);
}

std::string SpoolNameOfHeld(std::string_view heldName) {
  if (heldName.size() <= kHeldSuffix.size() || !EndsWithNoCase(heldName, kHeldSuffix)) return "";
  return std::string(heldName.substr(0, heldName.size() - kHeldSuffix.size()));
}

SpoolQueue::SpoolQueue(const std::string& spoolFilePattern)
    : directory_(AddTrailingSeparator(DirectoryPart(spoolFilePattern))),
      pattern_(FileNamePart(spoolFilePattern)) {}

std::vector<QueueEntry> SpoolQueue::List(LocalDateTime now, bool& ok) const {
  ok = ::access((directory_.empty() ? "." : directory_.c_str()), R_OK | X_OK) == 0;
  std::vector<std::string> names = ListSpoolNames(directory_, "*");
  std::sort(names.begin(), names.end());
  std::vector<QueueEntry> entries;
  for (const std::string& name : names) {
    QueueEntry entry;
    if (!QueueStateOfName(name, pattern_, entry.state)) continue;
    entry.name = name;
    FillEntryFromFile(directory_ + name, now, entry);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string SpoolQueue::Resolve(const std::string& argument, std::string& error) const {
  std::string name = argument;
  if (argument.find('/') != std::string::npos) {
    name = FileNamePart(argument);
    const std::string home = RealDirectory(directory_);
    if (home.empty() || RealDirectory(DirectoryPart(argument)) != home) {
      error = "'" + argument + "' is not in the spool directory " + directory_;
      return "";
    }
  }
  QueueState state;
  if (!QueueStateOfName(name, pattern_, state)) {
    error = "'" + argument + "' is not the name of a mail in " + directory_ + pattern_;
    return "";
  }
  return name;
}

QueueResult SpoolQueue::Delete(const std::string& name) const {
  QueueState state = QueueState::Error;
  QueueStateOfName(name, pattern_, state);
  if (state != QueueState::Waiting && state != QueueState::Held)
    return Refused(name, "is neither waiting nor held; left as it is");
  const std::string path = directory_ + name;
  struct stat held {};
  std::string why;
  const UniqueFd lock = LockQueueFile(path, held, why);
  if (!lock.ok()) return Refused(name, why);
  if (WriterMayBeActive(lock.get(), held))
    return Refused(name, "may still be open for writing; try again in a moment");
  // Under a private name first: the file leaves the queue whole, then goes.
  const std::string hidden = PrivateNameFor(directory_, name);
  if (!RenameNoReplace(path, hidden)) return Refused(name, std::strerror(errno));
  ::unlink(hidden.c_str());
  return Done("'" + name + "' deleted");
}

QueueResult SpoolQueue::Hold(const std::string& name) const {
  QueueState state = QueueState::Error;
  QueueStateOfName(name, pattern_, state);
  if (state == QueueState::Held) return Refused(name, "is held already");
  if (state != QueueState::Waiting) return Refused(name, "is not a waiting mail; left as it is");
  if (MatchesNamePattern(HeldNameOf(name), pattern_))
    return Refused(name, "would still match " + pattern_ + " when held; left as it is");
  const std::string path = directory_ + name;
  struct stat held {};
  std::string why;
  const UniqueFd lock = LockQueueFile(path, held, why);
  if (!lock.ok()) return Refused(name, why);
  // A held name taken by another mail: the held name of the next free numbered spool name.
  for (int n = 1; n < kMaxNumberedNames; ++n) {
    const std::string target = HeldNameOf(NumberedSpoolPath(path, n));
    if (RenameNoReplace(path, target)) return Done("'" + name + "' held as " + FileNamePart(target));
    if (errno != EEXIST) break;
  }
  return Refused(name, std::strerror(errno));
}

QueueResult SpoolQueue::Release(const std::string& name) const {
  const std::string spoolName = SpoolNameOfHeld(name);
  if (spoolName.empty()) return Refused(name, "is not held");
  const std::string path = directory_ + name;
  struct stat held {};
  std::string why;
  const UniqueFd lock = LockQueueFile(path, held, why);
  if (!lock.ok()) return Refused(name, why);
  const std::string released = RenameToFreeName(path, directory_ + spoolName);
  if (released.empty()) return Refused(name, std::strerror(errno));
  const std::string releasedName = FileNamePart(released);
  std::string text = "'" + name + "' released as " + releasedName;
  if (!MatchesNamePattern(releasedName, pattern_))
    text += " (that name does not match " + pattern_ + ": no spool run takes it)";
  return Done(text);
}

QueueResult SpoolQueue::RetryNow(const std::string& name, LocalDateTime now) const {
  QueueState state = QueueState::Error;
  QueueStateOfName(name, pattern_, state);
  if (state == QueueState::Held) return Refused(name, "is held; release it first");
  if (state != QueueState::Waiting) return Refused(name, "is not a waiting mail; left as it is");
  SpoolFile file;
  file.Path = directory_ + name;
  file.WorkingPath = ChangeExtension(file.Path, kWorkingExtension);
  if (!FileExists(file.Path)) return Refused(name, "is not in the spool directory");
  const std::optional<WorkingFile> claim = WorkingFile::Claim(file.Path, file.WorkingPath);
  if (!claim) return Refused(name, "is in hand (a spool run or its writer has it); left as it is");
  std::string text, encoding;
  IoError error;
  if (!ReadSpoolText(file.WorkingPath, text, encoding, error)) {
    claim->GiveBack();
    return Refused(name, error.text);
  }
  ParseSpoolText(std::move(text), now, file);
  if (file.IsErrorMime) {
    claim->GiveBack();
    return Refused(name, "is a failed return mail (X-pvx-IsErrorMime) and never sent");
  }
  if (!(now < file.SendAfter)) {
    claim->GiveBack();
    return Done("'" + name + "' is due already");
  }
  file.SendAfter = WholeSecond(now);
  AppendControlHeaders(file);
  error = WriteSpoolText(file.WorkingPath, SpoolText{file.FileHeaders, file.Body()}, encoding, true);
  if (error) {
    claim->GiveBack();
    return Refused(name, error.text);
  }
  const std::string path = RenameToFreeName(file.WorkingPath, file.Path);
  if (path.empty())
    return Refused(name, "was made due but stays as " + FileNamePart(file.WorkingPath) +
                             " until the spooler's next start: " + std::strerror(errno));
  return Done("'" + name + "' due now" + (path == file.Path ? "" : " as " + FileNamePart(path)));
}

std::vector<std::string> SpoolQueue::SpoolNames() const {
  std::vector<std::string> names = ListSpoolNames(directory_, pattern_);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace pv
