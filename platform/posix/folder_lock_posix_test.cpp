// The data folder's lock across processes: another process is refused, and a
// holder that dies without letting go frees the lock all the same.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/folder_lock.h"

namespace {

TEST(PosixFileLockTest, HolderThatIsKilledFreesTheLock) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("talvero-file-lock-kill-" + std::to_string(getpid()) + ".lock"))
                               .string();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The holder: takes the lock, says so, and waits to be killed.
    platform::FileLockOutcome outcome;
    std::string cause;
    auto lock = platform::TryLockFile(path, &outcome, &cause);
    char answer = outcome == platform::FileLockOutcome::kHeld ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  platform::FileLockOutcome outcome = platform::FileLockOutcome::kUnavailable;
  std::string cause;
  EXPECT_EQ(platform::TryLockFile(path, &outcome, &cause), nullptr);
  EXPECT_EQ(outcome, platform::FileLockOutcome::kTaken);

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  auto lock = platform::TryLockFile(path, &outcome, &cause);
  EXPECT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;
  lock.reset();
  std::filesystem::remove(path);
}

}  // namespace
