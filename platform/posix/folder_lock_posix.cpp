// The file lock of the POSIX build: flock on an open descriptor.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/env.h"
#include "platform/folder_lock.h"

namespace platform {
namespace {

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { close(fd_); }  // closing the last descriptor unlocks

 private:
  const int fd_;
};

}  // namespace

std::unique_ptr<FileLock> TryLockFile(const std::string& path, FileLockOutcome* outcome,
                                      std::string* cause) {
  cause->clear();
  // Close-on-exec: a program the agent starts must not inherit the lock and
  // keep the folder claimed after the agent has ended.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A folder (or lock file) that refuses writes can still be locked through
  // a descriptor opened for reading, as long as the file is there.
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    *cause = LastSystemErrorText();
    *outcome = FileLockOutcome::kUnavailable;
    return nullptr;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool taken = errno == EWOULDBLOCK;
    if (!taken) *cause = LastSystemErrorText();
    close(fd);
    *outcome = taken ? FileLockOutcome::kTaken : FileLockOutcome::kUnavailable;
    return nullptr;
  }
  *outcome = FileLockOutcome::kHeld;
  return std::make_unique<PosixFileLock>(fd);
}

}  // namespace platform
