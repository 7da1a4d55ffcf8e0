// An exclusive lock on one file, the way an agent claims its data folder.
//
// The single-instance lock is per session (a named mutex on Windows, a lock
// under XDG_RUNTIME_DIR on POSIX), so two agents of two sessions, or a service
// beside a console agent, would both run on one data folder and post every
// sample twice. A lock on a file inside the folder is seen by every process
// of the machine. The operating system lets go of it when the process ends in
// any way, so an agent that crashed never blocks the next one.
//
// Windows: LockFileEx on the first byte of the file (others may still open
// it); POSIX: flock. Both hold the lock per
// open file, so a second FileLock on the same path fails even within one
// process. A FileLock is used by one thread; different locks are independent.
#pragma once

#include <memory>
#include <string>

namespace platform {

class FileLock {
 public:
  // Releases the lock and closes the file.
  virtual ~FileLock() = default;
};

enum class FileLockOutcome {
  kHeld,         // the lock is ours
  kTaken,        // another open file (another agent) holds it
  kUnavailable,  // the file could not be created or opened, or locking failed
};

// Creates path when missing (opening it read-only when the folder refuses
// writes), and takes the lock without waiting. The lock when kHeld, null
// otherwise; for kUnavailable cause receives the system's reason.
std::unique_ptr<FileLock> TryLockFile(const std::string& path, FileLockOutcome* outcome,
                                      std::string* cause);

}  // namespace platform
