// The decisions of the tray's Autorun command and the About text, against a
// store that can be told to refuse.
#include "app/console_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/support/recording_env.h"

namespace {

class FakeStore : public platform::AutorunStore {
 public:
  bool WriteAgentValue(const std::string& name, const std::string& text) override {
    values[name] = text;
    return true;
  }
  bool ReadAgentValue(const std::string& name, std::string* text) override {
    auto found = values.find(name);
    if (found == values.end()) {
      text->clear();
      return false;
    }
    *text = found->second;
    return true;
  }
  bool WriteRunEntry(platform::RunScope scope, const std::string& program,
                     const std::string& arguments) override {
    if (scope == platform::RunScope::kMachine ? refuseMachine : refuseUser) return false;
    entries[scope] = program + arguments;
    return true;
  }
  bool ReadRunEntry(platform::RunScope scope, std::string* program,
                    std::string* arguments) override {
    // The entries of these tests all end with the agent's " -h".
    auto found = entries.find(scope);
    if (found == entries.end() || found->second.size() < 3) return false;
    *program = found->second.substr(0, found->second.size() - 3);
    *arguments = found->second.substr(found->second.size() - 3);
    return true;
  }
  bool DeleteRunEntry(platform::RunScope scope) override {
    if (scope == platform::RunScope::kMachine && keepMachine) return entries.count(scope) == 0;
    entries.erase(scope);
    return true;
  }

  bool keepMachine = false;  // the machine's entry cannot be removed
  bool refuseMachine = false;
  bool refuseUser = false;
  std::map<std::string, std::string> values;
  std::map<platform::RunScope, std::string> entries;
};

constexpr char kModule[] = "C:\\agent\\talvero-agent.exe";

TEST(SetAutorunTest, OnWritesTheMachineEntryAndAuto) {
  FakeStore store;
  EXPECT_TRUE(SetAutorunIn(&store, true, kModule));
  EXPECT_EQ(store.values["auto"], "1");
  EXPECT_EQ(store.entries[platform::RunScope::kMachine], std::string(kModule) + " -h");
  EXPECT_EQ(store.entries.count(platform::RunScope::kUser), 0u);
}

TEST(SetAutorunTest, RefusedMachineEntryFallsBackToTheUser) {
  FakeStore store;
  store.refuseMachine = true;
  EXPECT_TRUE(SetAutorunIn(&store, true, kModule));
  EXPECT_EQ(store.values["auto"], "1");
  EXPECT_EQ(store.entries.count(platform::RunScope::kMachine), 0u);
  EXPECT_EQ(store.entries[platform::RunScope::kUser], std::string(kModule) + " -h");
}

TEST(SetAutorunTest, MachineEntryThatStartsThisAgentIsNotDoubledByTheUser) {
  FakeStore store;
  store.refuseMachine = true;  // a normal user; an elevated run wrote the entry
  store.entries[platform::RunScope::kMachine] = std::string(kModule) + " -h";
  EXPECT_TRUE(SetAutorunIn(&store, true, kModule));
  EXPECT_EQ(store.values["auto"], "1");
  EXPECT_EQ(store.entries.count(platform::RunScope::kUser), 0u);

  // The machine's entry of another copy of the agent is not this one's.
  store.entries[platform::RunScope::kMachine] = "D:\\other\\talvero-agent.exe -h";
  EXPECT_TRUE(SetAutorunIn(&store, true, kModule));
  EXPECT_EQ(store.entries[platform::RunScope::kUser], std::string(kModule) + " -h");
}

TEST(SetAutorunTest, NoEntryWrittenLeavesAutoOff) {
  FakeStore store;
  store.refuseMachine = true;
  store.refuseUser = true;
  store.values["auto"] = "1";  // stale from an earlier run
  EXPECT_FALSE(SetAutorunIn(&store, true, kModule));
  EXPECT_EQ(store.values["auto"], "0");
  EXPECT_TRUE(store.entries.empty());
}

TEST(SetAutorunTest, OffRemovesBothEntries) {
  FakeStore store;
  store.entries[platform::RunScope::kMachine] = "a";
  store.entries[platform::RunScope::kUser] = "b";
  EXPECT_FALSE(SetAutorunIn(&store, false, kModule));
  EXPECT_EQ(store.values["auto"], "0");
  EXPECT_TRUE(store.entries.empty());
}

TEST(ReadAgentValueTest, UnreadableValueIsEmpty) {
  FakeStore store;
  EXPECT_EQ(ReadAgentValueFrom(&store, "auto"), "");
  store.values["auto"] = "1";
  EXPECT_EQ(ReadAgentValueFrom(&store, "auto"), "1");
}

TEST(AboutTextTest, EndsWithTheYear) {
  // 2031-07-01 12:00 UTC: the same year in every time zone.
  const int64_t july2031 = 1940760000000;
  std::string text = AboutText(july2031);
  EXPECT_EQ(text.rfind("TALVERO AGENT Ver 1.0\n", 0), 0u) << text;
  ASSERT_GE(text.size(), 4u);
  EXPECT_EQ(text.substr(text.size() - 4), "2031");
}

class ToggleAutorunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() /
        ("talvero-toggle-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    config_ = (folder_ / "config.ini").string();
    std::ofstream out(config_, std::ios::binary);
    out << "; site notes\n[SERVER]\nhost=10.0.0.2\nisautorun=0\n\n[ITEMS]\ncf=5\n";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path folder_;
  std::string config_;
};

TEST_F(ToggleAutorunTest, FlipsTheStateAndWritesItBack) {
  FakeStore store;
  ToggleAutorun(&store, kModule, config_);
  EXPECT_EQ(store.values["auto"], "1");
  EXPECT_EQ(platform::ProfileReadText(config_, "SERVER", "isautorun", ""), "1");
  EXPECT_EQ(platform::ProfileReadText(config_, "SERVER", "host", ""), "10.0.0.2");
  EXPECT_EQ(platform::ProfileReadInt(config_, "ITEMS", "cf", 0), 5);
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(config_, &content));
  EXPECT_NE(content.find("; site notes"), std::string::npos);

  ToggleAutorun(&store, kModule, config_);
  EXPECT_EQ(store.values["auto"], "0");
  EXPECT_TRUE(store.entries.empty());
  EXPECT_EQ(platform::ProfileReadText(config_, "SERVER", "isautorun", ""), "0");
}

TEST_F(ToggleAutorunTest, AnEntryThatCannotBeRemovedKeepsTheStateOn) {
  FakeStore store;
  ToggleAutorun(&store, kModule, config_);
  ASSERT_EQ(store.values["auto"], "1");
  store.keepMachine = true;
  ToggleAutorun(&store, kModule, config_);
  // The entry still starts the agent at logon: the check mark, `auto` and
  // isautorun keep saying so.
  EXPECT_EQ(store.entries.count(platform::RunScope::kMachine), 1u);
  EXPECT_EQ(store.values["auto"], "1");
  EXPECT_EQ(platform::ProfileReadText(config_, "SERVER", "isautorun", ""), "1");
}

TEST_F(ToggleAutorunTest, WritesTheRealStateWhenNoEntryCanBeWritten) {
  FakeStore store;
  store.refuseMachine = true;
  store.refuseUser = true;
  ToggleAutorun(&store, kModule, config_);
  EXPECT_EQ(store.values["auto"], "0");
  EXPECT_EQ(platform::ProfileReadText(config_, "SERVER", "isautorun", ""), "0");
}

// A gate the task under test waits at; shared, since a task left behind at
// its bound outlives the test.
struct Gate {
  std::mutex lock;  // guards open
  std::condition_variable opened;
  bool open = false;

  void Open() {
    std::lock_guard<std::mutex> hold(lock);
    open = true;
    opened.notify_all();
  }
  void Await() {
    std::unique_lock<std::mutex> hold(lock);
    opened.wait(hold, [this] { return open; });
  }
};

// A monotonic clock that moves 500 ms at each reading until it reaches
// openAtMs, where it opens the gate and stands still, so that the task's end
// is always seen before the bound.
class SteppingClockEnv : public platform::RecordingConsoleEnv {
 public:
  SteppingClockEnv(int64_t openAtMs, std::shared_ptr<Gate> gate)
      : openAtMs_(openAtMs), gate_(std::move(gate)) {}
  int64_t MonotonicNanoseconds() override {
    if (nowMs_ >= openAtMs_) {
      gate_->Open();
      return nowMs_ * 1000 * 1000;
    }
    const int64_t read = nowMs_;
    nowMs_ += 500;
    return read * 1000 * 1000;
  }
  int64_t NowMs() const { return nowMs_; }

 private:
  const int64_t openAtMs_;
  const std::shared_ptr<Gate> gate_;
  std::atomic<int64_t> nowMs_{0};
};

TEST(RunWithinBoundTest, WaitsForTheTaskUntilTheBoundAndNoLonger) {
  constexpr int64_t kNever = INT64_MAX;
  const struct {
    const char* what;
    int64_t openAtMs;  // when the task may end
    bool ended;
    int64_t waitedMs;  // on the clock, when the wait was given up or the end seen
  } cases[] = {
      {"ends at once", 0, true, 0},
      {"ends before the bound", 2000, true, 2000},
      {"hangs: left behind at the bound", kNever, false, 3000},
  };
  for (const auto& c : cases) {
    auto gate = std::make_shared<Gate>();
    auto taskEnded = std::make_shared<std::atomic<bool>>(false);
    SteppingClockEnv env(c.openAtMs, gate);
    const bool ended = RunWithinBound(
        [gate, taskEnded] {
          gate->Await();
          *taskEnded = true;
        },
        kExitBoundMs, &env);
    EXPECT_EQ(ended, c.ended) << c.what;
    EXPECT_EQ(taskEnded->load(), c.ended) << c.what;
    // The last reading is the one the wait ended at: a hung task is given up
    // at the first reading at or past the bound.
    EXPECT_EQ(env.NowMs() - (c.ended ? 0 : 500), c.waitedMs) << c.what;
    gate->Open();  // lets a task left behind end
  }
}

}  // namespace
