#pragma once
// The spool directory seen as a queue, for the queue tools: every mail with its state, and the
// operations on one mail (delete, hold, release, retry now). Each operation takes the mail's
// flock without waiting first, so a file that a spool run or a writer holds is never touched;
// every change is a rename that never replaces a file, or a rewrite through the durable write.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"

namespace pv {

// A held mail: the spool name followed by this, which no spool pattern "*.<ext>" matches
// unless the extension is "hold" itself (the tools then refuse to hold).
inline constexpr std::string_view kHeldSuffix = ".hold";
// A mail set aside for good by the spool run: the spool name followed by this.
inline constexpr std::string_view kErrorSuffix = ".error";

enum class QueueState {
  Waiting,  // its next attempt lies ahead
  Due,      // the next run takes it
  Held,     // set aside by --hold; the scan ignores it
  InHand,   // under its working name, or locked by a spool run or a writer
  Error,    // set aside for good (".error")
};

// The word for a state: "waiting", "due", "held", "in hand", "error".
std::string_view QueueStateName(QueueState state);

struct QueueEntry {
  std::string name;  // the file name in the spool directory
  std::int64_t size = 0;
  std::int64_t ageSeconds = 0;  // since the file was last written (queued or rescheduled)
  QueueState state = QueueState::Waiting;
  std::string sender;
  std::string subject;
  std::string recipients;  // still due: To, Cc and Bcc without those served or refused
  std::int32_t attempts = 0;  // failed attempts so far (X-pvx-Retry)
  std::string nextAttempt;    // X-pvx-SendAfter as "yyyy-mm-ddThh:nn:ss"; "" when at once
  std::string lastError;      // filled by the caller, from where the results are logged
};

// The state a name has by its form alone: held, error, in hand (the working name), or Waiting
// for a name of the spool pattern (the caller tells waiting from due and a locked file);
// false for any other name.
bool QueueStateOfName(std::string_view name, std::string_view pattern, QueueState& state);

// Fills sender, subject, recipients, attempts and nextAttempt from a spool file's text (the
// header block is enough); a Waiting entry whose next attempt is not after `now` becomes Due.
void FillQueueEntry(std::string text, LocalDateTime now, QueueEntry& entry);

// The held name of a spool name ("a.eml" -> "a.eml.hold"), and the spool name of a held one
// ("" when name is not held).
std::string HeldNameOf(std::string_view spoolName);
std::string SpoolNameOfHeld(std::string_view heldName);

// The outcome of an operation on one mail: done, or why not.
struct QueueResult {
  bool ok = false;
  std::string text;  // what was done, or why nothing was
};

class SpoolQueue {
 public:
  // spoolFilePattern: "<spool directory>/*.<ext>", as the spool run reads it.
  explicit SpoolQueue(const std::string& spoolFilePattern);

  const std::string& directory() const { return directory_; }  // with a trailing "/"
  const std::string& pattern() const { return pattern_; }      // "*.<ext>"

  // Every mail of the directory: of the spool pattern, held, in hand and set aside, in the
  // order of their names. ok false when the directory cannot be read.
  std::vector<QueueEntry> List(LocalDateTime now, bool& ok) const;

  // The mail named by a file name or by a path inside the spool directory; its file name, or
  // "" with error set for a path elsewhere or a name that no mail can have.
  std::string Resolve(const std::string& argument, std::string& error) const;

  // Removes a waiting or held mail: locked, renamed to a private name, then unlinked, so no
  // spool run ever reads a part of it.
  QueueResult Delete(const std::string& name) const;
  // Sets a waiting mail aside under its held name (or the first free numbered one).
  QueueResult Hold(const std::string& name) const;
  // Gives a held mail its spool name back (or the first free numbered one), unchanged.
  QueueResult Release(const std::string& name) const;
  // Makes a waiting mail due now: claimed as the spool run claims it, its control headers
  // written anew with the next attempt at `now`, and given its name back. A due mail stays
  // as it is.
  QueueResult RetryNow(const std::string& name, LocalDateTime now) const;
  // The mails of the spool pattern, for --retry-now --all.
  std::vector<std::string> SpoolNames() const;

 private:
  std::string directory_;
  std::string pattern_;
};

}  // namespace pv
