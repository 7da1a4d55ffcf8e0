// The agent's log: every console line passes through it, and with a file
// configured it keeps the lines, each with its local time, in the data folder.
//
// Messages arrive in the console's style: a message begins a line with "\n"
// and may be continued by more messages (a total printed in two colours), so
// a line is whole when the next one begins. The console receives each message
// as it comes, coloured by its level; the file receives whole lines.
//
// A line repeated within a minute of its first showing is shown once; the
// repeats are counted and told as "(last line repeated N times)" when another
// line comes or the minute ends. Thread-safety: every call is safe from any
// thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/env.h"

enum class LogLevel { kInfo, kGood, kError };

// Where and how the file is kept; no file when enabled is false.
struct LogFileSettings {
  bool enabled = false;
  std::string folder;  // holds agent.log and its older agent.N.log
  uint64_t maxBytes = 10u << 20;
  int keep = 5;  // older files kept beside agent.log
};

// How long a repeat is counted before it is told, and how long an unfinished
// line waits before the file gets it as it stands.
constexpr int64_t kLogRepeatWindowMs = 60000;
constexpr int64_t kLogOpenLineMs = 1000;

class Log {
 public:
  // env gives the clock and the file; it must outlive the log.
  Log(platform::Env* env, LogFileSettings file);
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // One message in the console's style. console is where it is shown; strong
  // picks the console's stronger colours for good and error.
  void Write(platform::Env* console, LogLevel level, bool strong, const std::string& text);

  // Ends a minute of repeats that no new line ended, and files a line left
  // unfinished for a while. Called about once a second by a worker.
  void Tick();

  // Tells the repeats not yet told and files the open line: for the end of
  // the agent, when no next line will come.
  void Flush();

  // The file's path, for the operator's reading.
  std::string FilePath() const;

 private:
  struct Message {
    platform::Env* console = nullptr;
    LogLevel level = LogLevel::kInfo;
    bool strong = false;
    std::string text;
  };

  void Show(const Message& message);
  void CompleteLine();
  void TellRepeats(platform::Env* console);
  void EndRepeatMinuteIfDue(int64_t nowMs);
  void File(LogLevel level, const std::string& line);
  void Rotate();
  std::string OldFilePath(int n) const;

  platform::Env* const env_;
  const LogFileSettings file_;

  std::mutex
      mutex_;  // guards everything below; held while showing and filing, so lines keep their order
  int64_t nowMs_ = 0;  // the clock of the call under way
  platform::Env* lastConsole_ = nullptr;
  // The line being assembled since its "\n".
  std::string line_;
  LogLevel lineLevel_ = LogLevel::kInfo;
  int64_t lineStartMs_ = 0;
  int64_t lineLastMs_ = 0;
  std::size_t lineFiled_ = 0;  // bytes of line_ the file already has
  // A message that may be a repeat: shown only once it proves not to be.
  bool holding_ = false;
  Message held_;
  // The last line shown and how often it came again since.
  bool haveLast_ = false;
  std::string lastLine_;
  LogLevel lastLevel_ = LogLevel::kInfo;
  int64_t lastStartMs_ = 0;
  int repeats_ = 0;
  // The file's state.
  bool folderMade_ = false;
  bool sizeKnown_ = false;
  uint64_t size_ = 0;
  bool failing_ = false;
};

// Shows a message on the console in its level's colours, without any log.
void ShowOnConsole(platform::Env* console, LogLevel level, bool strong, const std::string& text);

// The process's log, through which the console output functions print; none
// (nullptr) prints straight to the console. The log must outlive every print.
void SetProcessLog(Log* log);
Log* ProcessLog();
