// The Windows file lock: the lock file of a running agent cannot be deleted,
// so no second agent can lock a new file of the same name beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/folder_lock.h"

namespace {

TEST(WindowsFileLockTest, HeldFileCannotBeDeletedButCanBeRead) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  const std::string path =
      std::string(folder) + "talvero-lock-" + std::to_string(GetCurrentProcessId()) + ".lock";
  platform::FileLockOutcome outcome = platform::FileLockOutcome::kUnavailable;
  std::string cause;
  auto lock = platform::TryLockFile(path, &outcome, &cause);
  ASSERT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;

  EXPECT_FALSE(DeleteFileA(path.c_str()));
  HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "a backup or a scanner may still open it";
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

  lock.reset();
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

}  // namespace
