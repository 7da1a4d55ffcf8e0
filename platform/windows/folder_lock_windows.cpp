// The file lock of the Windows build: LockFileEx on the file's first byte.
#include <windows.h>

#include "platform/env.h"
#include "platform/folder_lock.h"

namespace platform {
namespace {

class WindowsFileLock : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE file) : file_(file) {}
  // Closing the handle lets go of its locks; so does the end of the process.
  ~WindowsFileLock() override { CloseHandle(file_); }

 private:
  const HANDLE file_;
};

// Others may open the file for reading and writing while the lock stands:
// what excludes a second agent is the byte-range lock, so a backup or a
// virus scanner that opens the file never passes for one. Deleting is not
// shared: a second agent could otherwise lock a new file of the same name.
constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

std::unique_ptr<FileLock> TryLockFile(const std::string& path, FileLockOutcome* outcome,
                                      std::string* cause) {
  cause->clear();
  // Not inheritable (no security attributes): a program the agent starts
  // must not keep the folder claimed after the agent has ended.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShared, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A folder (or lock file) that refuses writes can still be locked through
  // a handle opened for reading, as long as the file is there.
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    file = CreateFileA(path.c_str(), GENERIC_READ, kShared, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) {
    *cause = LastSystemErrorText();
    *outcome = FileLockOutcome::kUnavailable;
    return nullptr;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    const bool taken = error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION;
    if (!taken) *cause = LastSystemErrorText();
    CloseHandle(file);
    *outcome = taken ? FileLockOutcome::kTaken : FileLockOutcome::kUnavailable;
    return nullptr;
  }
  *outcome = FileLockOutcome::kHeld;
  return std::make_unique<WindowsFileLock>(file);
}

}  // namespace platform
