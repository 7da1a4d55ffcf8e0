// The log through a fake environment: its clock is set by the test, its
// files live in memory and can be made to fail, and its console keeps every
// write with the colour it was given.
#include "common/log.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/console_output.h"
#include "common/text_helpers.h"
#include "platform/clock.h"

namespace {

// A path as the fake keeps it, whatever the platform's separator.
std::string Key(std::string path) {
  for (char& ch : path) {
    if (ch == '\\') ch = '/';
  }
  return path;
}

class FakeLogEnv : public platform::EnvWrapper {
 public:
  FakeLogEnv() : EnvWrapper(platform::Env::Default()) {}

  int64_t NowMilliseconds() override { return nowMs; }
  bool PathExists(const std::string& path) override { return files.count(Key(path)) != 0; }
  platform::Status MakeDirectory(const std::string&) override { return platform::Status::Ok(); }
  platform::Status AppendAndFlush(const std::string& path, const std::string& content) override {
    ++appends;
    if (appendFails) return platform::Status::Failed("Read-only file system");
    files[Key(path)] += content;
    return platform::Status::Ok();
  }
  platform::Status FileSize(const std::string& path, uint64_t* size) override {
    auto found = files.find(Key(path));
    if (found == files.end()) return platform::Status::Failed("No such file or directory");
    *size = found->second.size();
    return platform::Status::Ok();
  }
  platform::Status RenameNoReplace(const std::string& from, const std::string& to) override {
    if (files.count(Key(from)) == 0 || files.count(Key(to)) != 0) {
      return platform::Status::Failed("exists");
    }
    files[Key(to)] = files[Key(from)];
    files.erase(Key(from));
    return platform::Status::Ok();
  }
  platform::Status DeleteFileAt(const std::string& path) override {
    return files.erase(Key(path)) != 0 ? platform::Status::Ok()
                                       : platform::Status::Failed("missing");
  }
  // The console: plain text as it is, coloured text as {attribute:text}.
  void ConsoleWrite(const std::string& text) override { console += text; }
  void ConsoleWriteColoured(uint16_t attribute, const std::string& text) override {
    console += FormatText("{%X:", attribute) + text + "}";
  }

  // The file's lines without their time stamps.
  std::vector<std::string> Lines(const std::string& path = "log/agent.log") {
    std::vector<std::string> lines;
    const std::string& text = files[path];
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end - start);
      lines.push_back(line.size() > 24 ? line.substr(24) : "<short: " + line + ">");
      start = end + 1;
    }
    return lines;
  }

  int64_t nowMs = 1765375200000;  // a fixed day, so that stamps are known
  bool appendFails = false;
  int appends = 0;
  std::map<std::string, std::string> files;
  std::string console;
};

LogFileSettings FileIn(const std::string& folder, uint64_t maxBytes = 10u << 20, int keep = 5) {
  LogFileSettings file;
  file.enabled = true;
  file.folder = folder;
  file.maxBytes = maxBytes;
  file.keep = keep;
  return file;
}

struct Message {
  int64_t atMs;  // after the test's start
  LogLevel level;
  bool strong;
  const char* text;
};

void Play(Log* log, FakeLogEnv* env, const std::vector<Message>& messages) {
  const int64_t start = env->nowMs;
  for (const Message& message : messages) {
    env->nowMs = start + message.atMs;
    log->Write(env, message.level, message.strong, message.text);
  }
}

// Without repeats the console receives what it received before the log, byte
// for byte and colour for colour: the same messages, split the same way.
TEST(Log, ConsoleGetsEveryMessageAsWithoutTheLog) {
  const std::vector<std::vector<Message>> cases = {
      {{0, LogLevel::kInfo, false, "--------* TALVERO AGENT *--------\nTalvero"},
       {0, LogLevel::kInfo, false, "\nPress Ctrl+C to exit from the system.\n"},
       {0, LogLevel::kError, false, "\nSetting cf=0 is out of range"}},
      {{0, LogLevel::kInfo, false, "\nItems update completed! "},
       {0, LogLevel::kGood, false, "Success 3"},
       {0, LogLevel::kInfo, false, ", "},
       {0, LogLevel::kError, false, "Failure 0"},
       {0, LogLevel::kInfo, false, "\nItems update completed! "},
       {0, LogLevel::kGood, false, "Success 3"}},
      {{0, LogLevel::kError, true, "\nRead error"},
       {0, LogLevel::kGood, true, "\nRead error"},
       {0, LogLevel::kError, false, "\nRead error"},
       {0, LogLevel::kError, true, "\nRead error and more"}},
      {{0, LogLevel::kInfo, false, "\nA"},
       {0, LogLevel::kInfo, false, "\nA"},
       {0, LogLevel::kInfo, false, " goes on"},
       {0, LogLevel::kInfo, false, ""},
       {0, LogLevel::kInfo, false, "\n"},
       {0, LogLevel::kInfo, false, "\n"}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    FakeLogEnv logged;
    FakeLogEnv plain;
    Log log(&logged, FileIn("log"));
    Play(&log, &logged, cases[i]);
    for (const Message& message : cases[i]) {
      ShowOnConsole(&plain, message.level, message.strong, message.text);
    }
    EXPECT_EQ(logged.console, plain.console);
  }
}

TEST(Log, ColoursAreTheConsolesRenderingOfTheLevel) {
  FakeLogEnv env;
  ShowOnConsole(&env, LogLevel::kError, true, "e");
  ShowOnConsole(&env, LogLevel::kError, false, "e");
  ShowOnConsole(&env, LogLevel::kGood, true, "g");
  ShowOnConsole(&env, LogLevel::kGood, false, "g");
  ShowOnConsole(&env, LogLevel::kInfo, true, "i");
  EXPECT_EQ(env.console, "{CF:e}{9C:e}{AF:g}{9A:g}i");
}

TEST(Log, FileGetsWholeLinesWithTheirTimeAndLevel) {
  FakeLogEnv env;
  Log log(&env, FileIn("log"));
  env.nowMs += 7;
  Play(&log, &env,
       {{0, LogLevel::kInfo, false, "--------* TALVERO AGENT *--------\nTalvero"},
        {0, LogLevel::kInfo, false, "\nPress Ctrl+C to exit from the system.\n"},
        {0, LogLevel::kInfo, false, "\nItems update completed! "},
        {0, LogLevel::kGood, false, "Success 3"},
        {0, LogLevel::kInfo, false, ", "},
        {0, LogLevel::kError, false, "Failure 0"},
        {0, LogLevel::kError, true, "\nRead error"},
        {0, LogLevel::kInfo, false, "\nStill open"}});
  // The last line is open: the next one, or a quiet second, ends it.
  EXPECT_EQ(env.Lines(), (std::vector<std::string>{
                             "info  --------* TALVERO AGENT *--------",
                             "info  Talvero",
                             "info  Press Ctrl+C to exit from the system.",
                             "good  Items update completed! Success 3, Failure 0",
                             "error Read error",
                         }));
  const std::string& text = env.files["log/agent.log"];
  std::tm local{};
  ASSERT_TRUE(platform::ToLocalTime(env.nowMs / 1000, &local));
  const std::string stamp =
      FormatText("%04d-%02d-%02d %02d:%02d:%02d.007 ", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  EXPECT_EQ(text.substr(0, stamp.size()), stamp);
  EXPECT_TRUE(
      std::regex_search(text, std::regex("\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.007 "
                                         "error Read error\n$")));
}

TEST(Log, AQuietSecondFilesTheOpenLineOnce) {
  FakeLogEnv env;
  Log log(&env, FileIn("log"));
  Play(&log, &env, {{0, LogLevel::kInfo, false, "\nAPI write from 127.0.0.1: ok"}});
  log.Tick();
  EXPECT_TRUE(env.Lines().empty());
  env.nowMs += kLogOpenLineMs;
  log.Tick();
  log.Tick();
  EXPECT_EQ(env.Lines(), std::vector<std::string>{"info  API write from 127.0.0.1: ok"});
  // What comes after on the same line is filed on its own, not twice.
  Play(&log, &env, {{0, LogLevel::kInfo, false, " (late)"}, {0, LogLevel::kInfo, false, "\nB"}});
  EXPECT_EQ(env.Lines(),
            (std::vector<std::string>{"info  API write from 127.0.0.1: ok", "info   (late)"}));
}

// The repeat collapse: what the console and the file show for a sequence of
// messages (the file without stamps), the clock given per message.
TEST(Log, RepeatedLinesAreShownOnceAndCounted) {
  struct Case {
    const char* name;
    std::vector<Message> messages;
    int64_t tickAtMs;  // -1: no tick
    std::string console;
    std::vector<std::string> file;
  };
  const LogLevel e = LogLevel::kError;
  const LogLevel i = LogLevel::kInfo;
  const Case cases[] = {
      {"a change ends the repeats",
       {{0, e, true, "\nConnect failed"},
        {500, e, true, "\nConnect failed"},
        {1000, e, true, "\nConnect failed"},
        {1500, i, false, "\nConnected"},
        {1600, i, false, "\nEnd"}},
       -1,
       "{CF:\nConnect failed}\n(last line repeated 2 times)\nConnected\nEnd",
       {"error Connect failed", "info  (last line repeated 2 times)", "info  Connected"}},
      {"the minute's end tells the repeats, and the line starts a new minute",
       {{0, e, true, "\nConnect failed"},
        {20000, e, true, "\nConnect failed"},
        {40000, e, true, "\nConnect failed"}},
       60000,
       "{CF:\nConnect failed}\n(last line repeated 1 times){CF:\nConnect failed}",
       // The quiet tick files the line it showed again.
       {"error Connect failed", "info  (last line repeated 1 times)", "error Connect failed"}},
      {"without a tick the next message ends the minute",
       {{0, e, true, "\nConnect failed"},
        {10000, e, true, "\nConnect failed"},
        {70000, e, true, "\nConnect failed"},
        {70001, i, false, "\nEnd"}},
       -1,
       "{CF:\nConnect failed}\n(last line repeated 1 times){CF:\nConnect failed}\nEnd",
       {"error Connect failed", "info  (last line repeated 1 times)", "error Connect failed"}},
      {"a repeat a minute later is no repeat",
       {{0, i, false, "\nA"}, {60000, i, false, "\nA"}, {60001, i, false, "\nB"}},
       -1,
       "\nA\nA\nB",
       {"info  A", "info  A"}},
      {"a line that goes on is no repeat",
       {{0, i, false, "\nItems update completed! "},
        {0, i, false, "\nItems update completed! "},
        {0, LogLevel::kGood, false, "Success 1"},
        {0, i, false, "\nEnd"}},
       -1,
       "\nItems update completed! \nItems update completed! {9A:Success 1}\nEnd",
       {"info  Items update completed! ", "good  Items update completed! Success 1"}},
      {"the same words at another level are no repeat",
       {{0, i, false, "\nRead error"}, {0, e, true, "\nRead error"}, {0, i, false, "\nEnd"}},
       -1,
       "\nRead error{CF:\nRead error}\nEnd",
       {"info  Read error", "error Read error"}},
      {"a held repeat ended by a tick before its minute stays held",
       {{0, i, false, "\nA"}, {1000, i, false, "\nA"}},
       30000,
       "\nA",
       {"info  A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLogEnv env;
    Log log(&env, FileIn("log"));
    const int64_t start = env.nowMs;
    Play(&log, &env, c.messages);
    if (c.tickAtMs >= 0) {
      env.nowMs = start + c.tickAtMs;
      log.Tick();
    }
    EXPECT_EQ(env.console, c.console);
    EXPECT_EQ(env.Lines(), c.file);
  }
}

TEST(Log, FilesAreRotatedAtTheirSizeKeepingTheNewestOld) {
  struct Case {
    int keep;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {2, {"log/agent.log", "log/agent.1.log", "log/agent.2.log"}, {"log/agent.3.log"}},
      {0, {"log/agent.log"}, {"log/agent.1.log"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keep);
    FakeLogEnv env;
    // Each entry is 24 stamp bytes, the level and the text: 40 bytes.
    Log log(&env, FileIn("log", 100, c.keep));
    for (int n = 0; n < 12; ++n)
      log.Write(&env, LogLevel::kInfo, false, FormatText("\nline %04d", n));
    log.Write(&env, LogLevel::kInfo, false, "\n");
    for (const std::string& path : c.present) EXPECT_EQ(env.files.count(path), 1u) << path;
    for (const std::string& path : c.absent) EXPECT_EQ(env.files.count(path), 0u) << path;
    for (const auto& file : env.files) EXPECT_LE(file.second.size(), 100u) << file.first;
    // Two lines a file: the newest in agent.log, the older ones in order.
    EXPECT_EQ(env.Lines(), (std::vector<std::string>{"info  line 0010", "info  line 0011"}));
    if (c.keep == 2) {
      EXPECT_EQ(env.Lines("log/agent.1.log"),
                (std::vector<std::string>{"info  line 0008", "info  line 0009"}));
      EXPECT_EQ(env.Lines("log/agent.2.log"),
                (std::vector<std::string>{"info  line 0006", "info  line 0007"}));
    }
  }
}

TEST(Log, AFileLeftFromBeforeCountsTowardsItsSize) {
  FakeLogEnv env;
  env.files["log/agent.log"] = std::string(90, 'x') + "\n";
  Log log(&env, FileIn("log", 100, 1));
  log.Write(&env, LogLevel::kInfo, false, "\nfirst");
  log.Write(&env, LogLevel::kInfo, false, "\n");
  EXPECT_EQ(env.files["log/agent.1.log"], std::string(90, 'x') + "\n");
  EXPECT_EQ(env.Lines(), std::vector<std::string>{"info  first"});
}

TEST(Log, AFileThatCannotBeWrittenIsToldOnceAndTheConsoleGoesOn) {
  FakeLogEnv env;
  Log log(&env, FileIn("log"));
  env.appendFails = true;
  Play(&log, &env,
       {{0, LogLevel::kInfo, false, "\nA"},
        {0, LogLevel::kInfo, false, "\nB"},
        {0, LogLevel::kInfo, false, "\nC"},
        {0, LogLevel::kInfo, false, "\nD"}});
  EXPECT_EQ(env.console,
            "\nA{9C:\nThe log file log" + std::string(1, platform::kPathSeparator) +
                "agent.log cannot be written (Read-only file system); the agent runs on without "
                "it.}\nB\nC\nD");
  EXPECT_EQ(env.appends, 3);  // every line tries again
  env.appendFails = false;
  log.Write(&env, LogLevel::kInfo, false, "\nE");
  EXPECT_EQ(env.Lines(), std::vector<std::string>{"info  D"});
}

TEST(Log, FlushTellsTheRepeatsAndFilesTheOpenLine) {
  FakeLogEnv env;
  Log log(&env, FileIn("log"));
  Play(&log, &env,
       {{0, LogLevel::kInfo, false, "\nA"},
        {0, LogLevel::kInfo, false, "\nA"},
        {0, LogLevel::kInfo, false, "\nA"},
        {0, LogLevel::kInfo, false, "\nExiting"}});
  log.Flush();
  log.Flush();
  EXPECT_EQ(env.Lines(), (std::vector<std::string>{"info  A", "info  (last line repeated 2 times)",
                                                   "info  Exiting"}));
  // A repeat still held at the end is counted, not lost.
  FakeLogEnv held;
  Log heldLog(&held, FileIn("log"));
  Play(&heldLog, &held, {{0, LogLevel::kInfo, false, "\nA"}, {0, LogLevel::kInfo, false, "\nA"}});
  heldLog.Flush();
  EXPECT_EQ(held.Lines(),
            (std::vector<std::string>{"info  A", "info  (last line repeated 1 times)"}));
  EXPECT_EQ(held.console, "\nA\n(last line repeated 1 times)");
}

TEST(Log, NoFileWhenNotEnabled) {
  FakeLogEnv env;
  Log log(&env, LogFileSettings{});
  Play(&log, &env, {{0, LogLevel::kInfo, false, "\nA"}, {0, LogLevel::kInfo, false, "\nB"}});
  env.nowMs += kLogOpenLineMs;
  log.Tick();
  EXPECT_EQ(env.appends, 0);
  EXPECT_EQ(env.console, "\nA\nB");
}

// The console output functions are the log's way in: with a process log,
// what they print is also filed; without one it goes straight out.
TEST(Log, ConsoleOutputGoesThroughTheProcessLog) {
  FakeLogEnv env;
  Log log(&env, FileIn("log"));
  SetProcessLog(&log);
  PrintErrorLine(&env, "\nConnect to opc server failed, retrying...", true);
  PrintErrorLine(&env, "\nConnect to opc server failed, retrying...", true);
  PrintGoodLine(&env, "\nSuccess 3", false);
  PrintText(&env, "\n");
  SetProcessLog(nullptr);
  PrintText(&env, "\nafter");
  EXPECT_EQ(env.console,
            "{CF:\nConnect to opc server failed, retrying...}\n(last line repeated 1 times)"
            "{9A:\nSuccess 3}\n\nafter");
  EXPECT_EQ(env.Lines(), (std::vector<std::string>{
                             "error Connect to opc server failed, retrying...",
                             "info  (last line repeated 1 times)",
                             "good  Success 3",
                         }));
}

}  // namespace
