// The file functions that the spool relies on for surviving a power cut, run
// against the platform implementation of each build.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/env.h"

namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    folder_ = std::filesystem::temp_directory_path() /
              ("talvero-file-system-" + std::to_string(counter++) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string folder() const { return folder_.string(); }
  std::string file(const std::string& name) const { return (folder_ / name).string(); }

 private:
  std::filesystem::path folder_;
};

TEST_F(FileSystemTest, RenamedFileIsCompleteUnderItsNameAfterTheFolderFlush) {
  ASSERT_TRUE(
      platform::WriteNewFileDurably(file("1.writing"), "{\"i\":\"A\",\"v\":\"1\",\"t\":5}"));
  ASSERT_TRUE(platform::RenameNoReplace(file("1.writing"), file("1.txt")));
  EXPECT_TRUE(platform::FlushDirectory(folder()));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(file("1.txt"), &content));
  EXPECT_EQ(content, "{\"i\":\"A\",\"v\":\"1\",\"t\":5}");
  EXPECT_FALSE(platform::PathExists(file("1.writing")));
}

TEST_F(FileSystemTest, FlushFailsForAMissingFolderAndForAFile) {
  EXPECT_FALSE(platform::FlushDirectory(file("gone")));
  ASSERT_TRUE(platform::WriteNewFileDurably(file("plain.txt"), "x"));
  EXPECT_FALSE(platform::FlushDirectory(file("plain.txt")));
}

TEST_F(FileSystemTest, RenameNeverReplacesAnExistingName) {
  ASSERT_TRUE(platform::WriteNewFileDurably(file("new.writing"), "new"));
  ASSERT_TRUE(platform::WriteNewFileDurably(file("taken.txt"), "old"));
  EXPECT_FALSE(platform::RenameNoReplace(file("new.writing"), file("taken.txt")));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(file("taken.txt"), &content));
  EXPECT_EQ(content, "old");
}

TEST_F(FileSystemTest, AppendAndFlushMakesAddsToAndFollowsARenamedFile) {
  ASSERT_TRUE(platform::AppendAndFlush(file("agent.log"), "one\n"));
  ASSERT_TRUE(platform::AppendAndFlush(file("agent.log"), "two\n"));
  // A rotation renames the file between two writes: the next one starts anew.
  ASSERT_TRUE(platform::RenameNoReplace(file("agent.log"), file("agent.1.log")));
  ASSERT_TRUE(platform::AppendAndFlush(file("agent.log"), "three\n"));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(file("agent.1.log"), &content));
  EXPECT_EQ(content, "one\ntwo\n");
  ASSERT_TRUE(platform::ReadWholeFile(file("agent.log"), &content));
  EXPECT_EQ(content, "three\n");
  EXPECT_FALSE(platform::AppendAndFlush(file("missing/agent.log"), "x"));
}

TEST_F(FileSystemTest, ReplaceFileDurablyReplacesWholeAndLeavesNoTemporary) {
  ASSERT_TRUE(platform::ReplaceFileDurably(file("config.ini"), "a=1"));
  ASSERT_TRUE(platform::ReplaceFileDurably(file("config.ini"), "a=2"));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(file("config.ini"), &content));
  EXPECT_EQ(content, "a=2");
  EXPECT_FALSE(platform::PathExists(file("config.ini.writing")));
}

TEST_F(FileSystemTest, FailuresCarryTheSystemsCause) {
  platform::Env* env = platform::Env::Default();
  const std::string missing = file("gone") + std::string(1, platform::kPathSeparator) + "1.txt";
  platform::Status written = env->WriteNewFileDurably(missing, "x");
  EXPECT_FALSE(written.ok());
  EXPECT_NE(written.cause(), "");
  EXPECT_NE(written.cause(), "unknown error");
  std::vector<platform::DirectoryEntry> entries;
  platform::Status listed = env->ListDirectory(file("gone"), &entries);
  EXPECT_FALSE(listed.ok());
  EXPECT_NE(listed.cause(), "unknown error");
  EXPECT_TRUE(entries.empty());
}

TEST(FolderOf, PathWithoutItsLastPart) {
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(platform::FolderOf("a" + sep + "b" + sep + "agent"), "a" + sep + "b");
  EXPECT_EQ(platform::FolderOf("a/agent"), "a");
  EXPECT_EQ(platform::FolderOf("agent"), "");
  EXPECT_FALSE(platform::ExecutableFolder().empty());
  EXPECT_EQ(platform::ExecutableFolder(), platform::FolderOf(platform::ModulePath()));
}

}  // namespace
