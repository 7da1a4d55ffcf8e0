// The agent in process, over the Linux build's simulation server, with an
// operator port that records what it is told.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/agent.h"

#include "common/log.h"
#include "tests/support/recording_env.h"

namespace {

class RecordingOperatorPort : public OperatorPort {
 public:
  void Notify(const std::string& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    told_.push_back(text);
    changed_.notify_all();
  }
  // The agent asks nothing of its operator yet.
  bool Ask(const std::string&) override { return false; }
  // What the operator was told, once there is something, or after a minute.
  std::vector<std::string> AwaitTold() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_for(hold, std::chrono::minutes(1), [this] { return !told_.empty(); });
    return told_;
  }

 private:
  std::mutex mutex_;  // guards told_: the supervisor's worker tells, the test reads
  std::condition_variable changed_;
  std::vector<std::string> told_;
};

// A recording console that a test can await a line on.
class AwaitingConsoleEnv : public platform::RecordingConsoleEnv {
 public:
  void ConsoleWrite(const std::string& text) override {
    RecordingConsoleEnv::ConsoleWrite(text);
    std::lock_guard<std::mutex> hold(mutex_);
    changed_.notify_all();
  }
  void ConsoleWriteColoured(uint16_t attribute, const std::string& text) override {
    RecordingConsoleEnv::ConsoleWriteColoured(attribute, text);
    std::lock_guard<std::mutex> hold(mutex_);
    changed_.notify_all();
  }
  // True once fragment was printed, false after a minute.
  bool AwaitPrinted(const std::string& fragment) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::minutes(1),
                             [&] { return Printed().find(fragment) != std::string::npos; });
  }

 private:
  std::mutex mutex_;  // pairs with changed_, signalled after each write
  std::condition_variable changed_;
};

class AgentTest : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> folders{0};
    base_ = std::filesystem::temp_directory_path() /
            ("talvero-agent-" + std::to_string(std::random_device{}()) + "-" +
             std::to_string(++folders));
    std::filesystem::create_directories(base_ / "data");
    Write("simulation.ini",
          "[server]\nprogid=Talvero.Simulation.1\ncounts=1\n"
          "[items]\nG.I.Level=VT_R8,static,1.5\nG.I.Count=VT_I4,static,7\n");
    settings_.progid = "Talvero.Simulation.1";
    settings_.group = "G";
    settings_.item = "I";
    settings_.itemscf = 60;
    settings_.sampleIntervalMs = 10000;
    settings_.port = 0;  // no listener: the test reaches the agent in process
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  std::string DataFolder() const { return (base_ / "data").string(); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream out(base_ / "data" / name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(base_ / "data" / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path base_;
  AgentSettings settings_;
  AwaitingConsoleEnv env_;
  RecordingOperatorPort operator_;
};

TEST_F(AgentTest, StopRemovesTheGroupAndReleasesTheServer) {
  Write("tags.txt", "Level\nCount\n");
  Agent agent(settings_, DataFolder(), &env_, &operator_);
  ASSERT_TRUE(agent.Start());
  // The connection stage looks at the tags file too: the items are added
  // once the supervisor's first tick says so.
  ASSERT_TRUE(env_.AwaitPrinted("\nItems update completed! ")) << env_.Printed();
  EXPECT_EQ(Read("simulation.counts"), "items=2\n");
  EXPECT_NE(agent.StatusJson(0).find("\"connected\":true"), std::string::npos)
      << agent.StatusJson(0);

  EXPECT_TRUE(agent.Stop());
  EXPECT_EQ(Read("simulation.counts"), "items=0\n");
  EXPECT_NE(agent.StatusJson(0).find("\"connected\":false"), std::string::npos)
      << agent.StatusJson(0);
}

TEST_F(AgentTest, StopFlushesTheLogItWasHanded) {
  Write("tags.txt", "Level\n");
  LogFileSettings file;
  file.enabled = true;
  file.folder = DataFolder() + "/log";
  Log log(&env_, file);
  Agent agent(settings_, DataFolder(), &env_, &operator_, &log);
  ASSERT_TRUE(agent.Start());
  // A repeat is held back until another line comes or the minute ends;
  // neither happens before the stop, which must still tell it.
  log.Write(&env_, LogLevel::kInfo, false, "\nthe same line");
  log.Write(&env_, LogLevel::kInfo, false, "\nthe same line");
  EXPECT_EQ(Read("log/agent.log").find("repeated"), std::string::npos);
  EXPECT_TRUE(agent.Stop());
  const std::string kept = Read("log/agent.log");
  EXPECT_NE(kept.find("the same line"), std::string::npos) << kept;
  EXPECT_NE(kept.find("(last line repeated 1 times)"), std::string::npos) << kept;
}

TEST_F(AgentTest, AMissingTagsFileIsToldThroughTheOperatorPort) {
  Agent agent(settings_, DataFolder(), &env_, &operator_);
  ASSERT_TRUE(agent.Start());
  EXPECT_EQ(operator_.AwaitTold(), std::vector<std::string>{"tags file isn't exists"});
  EXPECT_TRUE(agent.Stop());
}

TEST_F(AgentTest, StartFailsWhenNoServerHasTheProgId) {
  settings_.progid = "Other.Server.1";
  Agent agent(settings_, DataFolder(), &env_, &operator_);
  EXPECT_FALSE(agent.Start());
  EXPECT_NE(env_.Printed().find("\nNo matching progid server found"), std::string::npos)
      << env_.Printed();
}

}  // namespace
