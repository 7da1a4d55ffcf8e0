// The POSIX autorun store: files under XDG_CONFIG_HOME.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/autorun_store.h"
#include "platform/file_system.h"

namespace {

class PosixAutorunStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() /
        ("talvero-autorun-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    const char* old = getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("XDG_CONFIG_HOME", (folder_ / "config home").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::filesystem::remove_all(folder_);
  }
  std::string Home() const { return (folder_ / "config home").string(); }
  std::string Entry() const { return Home() + "/autostart/TALVERO AGENT.desktop"; }

  std::filesystem::path folder_;
  bool hadOld_ = false;
  std::string old_;
};

TEST_F(PosixAutorunStoreTest, AgentValuesAreFiles) {
  platform::AutorunStore& store = platform::SystemAutorunStore();
  std::string text = "stale";
  EXPECT_FALSE(store.ReadAgentValue("auto", &text));
  EXPECT_EQ(text, "");
  ASSERT_TRUE(store.WriteAgentValue("auto", "1"));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Home() + "/talvero/TALVERO AGENT/auto", &content));
  EXPECT_EQ(content, "1");
  ASSERT_TRUE(store.ReadAgentValue("auto", &text));
  EXPECT_EQ(text, "1");
  ASSERT_TRUE(store.WriteAgentValue("auto", "0"));
  ASSERT_TRUE(store.ReadAgentValue("auto", &text));
  EXPECT_EQ(text, "0");
  // Longer than the registry buffer of the Windows build: not read.
  ASSERT_TRUE(store.WriteAgentValue("long", std::string(300, 'x')));
  EXPECT_FALSE(store.ReadAgentValue("long", &text));
}

TEST_F(PosixAutorunStoreTest, UserEntryIsAnXdgAutostartFile) {
  platform::AutorunStore& store = platform::SystemAutorunStore();
  EXPECT_FALSE(store.WriteRunEntry(platform::RunScope::kMachine, "/opt/a/agent", " -h"));
  EXPECT_FALSE(platform::PathExists(Entry()));
  ASSERT_TRUE(store.WriteRunEntry(platform::RunScope::kUser, "/opt/a/agent", " -h"));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Entry(), &content));
  EXPECT_NE(content.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(content.find("\nExec=\"/opt/a/agent\" -h\n"), std::string::npos) << content;
  EXPECT_NE(content.find("\nType=Application\n"), std::string::npos);

  EXPECT_TRUE(store.DeleteRunEntry(platform::RunScope::kMachine));
  EXPECT_TRUE(platform::PathExists(Entry()));
  EXPECT_TRUE(store.DeleteRunEntry(platform::RunScope::kUser));
  EXPECT_FALSE(platform::PathExists(Entry()));
  EXPECT_TRUE(store.DeleteRunEntry(platform::RunScope::kUser));  // nothing left
}

TEST_F(PosixAutorunStoreTest, PathWithBlanksIsQuotedForTheLauncher) {
  platform::AutorunStore& store = platform::SystemAutorunStore();
  ASSERT_TRUE(store.WriteRunEntry(platform::RunScope::kUser, "/opt/my \"agent\"/run$", " -h"));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Entry(), &content));
  // Inside the quotes " and $ take a backslash, which the file's string
  // escaping doubles.
  EXPECT_NE(content.find("\nExec=\"/opt/my \\\\\"agent\\\\\"/run\\\\$\" -h\n"), std::string::npos)
      << content;
}

// What the store writes it reads back, whatever the path holds; and an entry
// in the unquoted form of earlier versions reads back too.
TEST_F(PosixAutorunStoreTest, EntryReadsBackQuotedAndUnquoted) {
  platform::AutorunStore& store = platform::SystemAutorunStore();
  std::string program = "stale";
  std::string arguments = "stale";
  EXPECT_FALSE(store.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
  EXPECT_EQ(program + arguments, "");

  const std::string paths[] = {
      "/opt/Talvero Agent/talvero-agent",
      "/opt/a/agent",
      "/srv/100% \"odd\" $HOME `x` back\\slash\ttab/agent",
      "/opt/line\nend/agent",
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(store.WriteRunEntry(platform::RunScope::kUser, path, " -h"));
    ASSERT_TRUE(store.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
    EXPECT_EQ(program, path);
    EXPECT_EQ(arguments, " -h");
  }
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Entry(), &content));
  EXPECT_EQ(content.find("line\nend"), std::string::npos) << "one line per key";

  struct Stored {
    const char* exec;
    const char* program;
    const char* arguments;
  };
  const Stored stored[] = {
      {"/opt/a/agent -h", "/opt/a/agent", " -h"},
      {"/opt/a/agent", "/opt/a/agent", ""},
      {"\"/opt/Talvero Agent/agent\" -h", "/opt/Talvero Agent/agent", " -h"},
      {"\"/opt/a\\\\\\\\b/agent\" -h", "/opt/a\\b/agent", " -h"},
  };
  for (const Stored& entry : stored) {
    SCOPED_TRACE(entry.exec);
    std::ofstream(Entry(), std::ios::trunc)
        << "[Desktop Entry]\nType=Application\nExec=" << entry.exec << "\nTerminal=true\n";
    ASSERT_TRUE(store.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
    EXPECT_EQ(program, entry.program);
    EXPECT_EQ(arguments, entry.arguments);
  }
  std::ofstream(Entry(), std::ios::trunc) << "[Desktop Entry]\nExec=\"/opt/never closed -h\n";
  EXPECT_FALSE(store.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
  EXPECT_EQ(program, "");
  EXPECT_FALSE(store.ReadRunEntry(platform::RunScope::kMachine, &program, &arguments));
}

TEST_F(PosixAutorunStoreTest, UnwritableFolderIsReported) {
  std::filesystem::create_directories(Home());
  std::ofstream(Home() + "/autostart") << "a file where the folder belongs";
  EXPECT_FALSE(platform::SystemAutorunStore().WriteRunEntry(platform::RunScope::kUser,
                                                            "/opt/a/agent", " -h"));
}

}  // namespace
