// The data folder's lock, against the platform implementation of each build.
#include "platform/folder_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() /
        ("talvero-file-lock-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string file(const std::string& name) const { return (folder_ / name).string(); }

  std::filesystem::path folder_;
};

TEST_F(FileLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  platform::FileLockOutcome outcome = platform::FileLockOutcome::kUnavailable;
  std::string cause;
  std::unique_ptr<platform::FileLock> first =
      platform::TryLockFile(file("agent.lock"), &outcome, &cause);
  ASSERT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(std::filesystem::exists(file("agent.lock")));

  // A second open of the same file, as a second agent would make it.
  std::unique_ptr<platform::FileLock> second =
      platform::TryLockFile(file("agent.lock"), &outcome, &cause);
  EXPECT_EQ(outcome, platform::FileLockOutcome::kTaken);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(cause, "");

  // Another file of the folder is no concern of the lock.
  std::unique_ptr<platform::FileLock> other =
      platform::TryLockFile(file("other.lock"), &outcome, &cause);
  EXPECT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;

  first.reset();
  second = platform::TryLockFile(file("agent.lock"), &outcome, &cause);
  EXPECT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;
  EXPECT_NE(second, nullptr);
}

TEST_F(FileLockTest, ExistingContentIsKept) {
  std::ofstream(file("agent.lock")) << "left by an earlier agent";
  platform::FileLockOutcome outcome = platform::FileLockOutcome::kUnavailable;
  std::string cause;
  auto lock = platform::TryLockFile(file("agent.lock"), &outcome, &cause);
  ASSERT_EQ(outcome, platform::FileLockOutcome::kHeld) << cause;
  lock.reset();
  std::ifstream in(file("agent.lock"));
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "left by an earlier agent");
}

TEST_F(FileLockTest, NoPlaceForTheFileIsUnavailableWithItsCause) {
  std::filesystem::create_directories(folder_ / "a folder");
  const std::string places[] = {file("missing/agent.lock"), file("a folder")};
  for (const std::string& place : places) {
    SCOPED_TRACE(place);
    platform::FileLockOutcome outcome = platform::FileLockOutcome::kHeld;
    std::string cause;
    EXPECT_EQ(platform::TryLockFile(place, &outcome, &cause), nullptr);
    EXPECT_EQ(outcome, platform::FileLockOutcome::kUnavailable);
    EXPECT_FALSE(cause.empty());
  }
}

}  // namespace
