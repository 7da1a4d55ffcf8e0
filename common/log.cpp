#include "common/log.h"

#include <atomic>
#include <ctime>

#include "common/text_helpers.h"
#include "platform/clock.h"

namespace {

// The console's rendering of a level: the colours the console has always
// used for errors and totals; the normal colours for the rest.
uint16_t ConsoleAttribute(LogLevel level, bool strong) {
  if (level == LogLevel::kError) return strong ? 0xCF : 0x9C;
  return strong ? 0xAF : 0x9A;
}

const char* LevelWord(LogLevel level) {
  switch (level) {
    case LogLevel::kGood:
      return "good ";
    case LogLevel::kError:
      return "error";
    default:
      return "info ";
  }
}

// "2026-12-10 14:00:32.123" in local time.
std::string LocalStamp(int64_t ms) {
  std::tm local{};
  const int64_t seconds = ms >= 0 ? ms / 1000 : 0;
  if (!platform::ToLocalTime(seconds, &local)) return std::string(23, '?');
  return FormatText("%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    static_cast<int>(ms >= 0 ? ms % 1000 : 0));
}

std::atomic<Log*> processLog{nullptr};

}  // namespace

void ShowOnConsole(platform::Env* console, LogLevel level, bool strong, const std::string& text) {
  if (level == LogLevel::kInfo) {
    console->ConsoleWrite(text);
  } else {
    console->ConsoleWriteColoured(ConsoleAttribute(level, strong), text);
  }
}

Log::Log(platform::Env* env, LogFileSettings file) : env_(env), file_(std::move(file)) {}

std::string Log::FilePath() const { return file_.folder + platform::kPathSeparator + "agent.log"; }

std::string Log::OldFilePath(int n) const {
  return file_.folder + platform::kPathSeparator + "agent." + std::to_string(n) + ".log";
}

void Log::Write(platform::Env* console, LogLevel level, bool strong, const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  nowMs_ = env_->NowMilliseconds();
  lastConsole_ = console;
  const bool beginsLine = !text.empty() && text[0] == '\n';
  if (holding_) {
    holding_ = false;
    if (beginsLine) {
      // The held line ended as it began: the same as the last one.
      ++repeats_;
      line_.clear();
    } else {
      // It goes on, so it is a line of its own after all.
      TellRepeats(held_.console);
      Show(held_);
    }
  }
  EndRepeatMinuteIfDue(nowMs_);
  std::size_t next = 0;
  if (beginsLine) {
    CompleteLine();
    next = 1;
    const std::string rest = text.substr(1);
    if (haveLast_ && !rest.empty() && rest == lastLine_ && level == lastLevel_ &&
        rest.find('\n') == std::string::npos && nowMs_ - lastStartMs_ < kLogRepeatWindowMs) {
      holding_ = true;
      held_ = Message{console, level, strong, text};
      line_ = rest;
      lineLevel_ = level;
      lineStartMs_ = lineLastMs_ = nowMs_;
      return;
    }
    TellRepeats(console);
  }
  Show(Message{console, level, strong, text});
  // Assemble the file's lines: every further "\n" ends one.
  while (next <= text.size()) {
    const std::size_t end = text.find('\n', next);
    const std::string part = text.substr(next, end == std::string::npos ? end : end - next);
    if (!part.empty()) {
      if (line_.empty()) lineStartMs_ = nowMs_;
      // A line takes the level of its first message that is not plain.
      if (lineLevel_ == LogLevel::kInfo) lineLevel_ = level;
      line_ += part;
      lineLastMs_ = nowMs_;
    }
    if (end == std::string::npos) break;
    CompleteLine();
    next = end + 1;
  }
}

void Log::Tick() {
  std::lock_guard<std::mutex> hold(mutex_);
  nowMs_ = env_->NowMilliseconds();
  EndRepeatMinuteIfDue(nowMs_);
  // A line nothing has followed for a while is filed as it stands, so the
  // file is not a line behind the console while the agent is quiet.
  if (!holding_ && lineFiled_ < line_.size() && nowMs_ - lineLastMs_ >= kLogOpenLineMs) {
    File(lineLevel_, line_.substr(lineFiled_));
    lineFiled_ = line_.size();
  }
}

void Log::Flush() {
  std::lock_guard<std::mutex> hold(mutex_);
  nowMs_ = env_->NowMilliseconds();
  if (holding_) {
    // Ending now, the held line is known whole: one more repeat.
    holding_ = false;
    ++repeats_;
    line_.clear();
  }
  TellRepeats(lastConsole_);
  if (lineFiled_ < line_.size()) {
    File(lineLevel_, line_.substr(lineFiled_));
    lineFiled_ = line_.size();
  }
}

void Log::Show(const Message& message) {
  ShowOnConsole(message.console, message.level, message.strong, message.text);
}

void Log::CompleteLine() {
  if (!line_.empty()) {
    if (lineFiled_ < line_.size()) File(lineLevel_, line_.substr(lineFiled_));
    haveLast_ = true;
    lastLine_ = line_;
    lastLevel_ = lineLevel_;
    lastStartMs_ = lineStartMs_;
  }
  line_.clear();
  lineLevel_ = LogLevel::kInfo;
  lineFiled_ = 0;
}

void Log::TellRepeats(platform::Env* console) {
  if (repeats_ == 0) return;
  const std::string notice = FormatText("(last line repeated %d times)", repeats_);
  repeats_ = 0;
  if (console != nullptr) console->ConsoleWrite("\n" + notice);
  File(LogLevel::kInfo, notice);
}

void Log::EndRepeatMinuteIfDue(int64_t nowMs) {
  if ((repeats_ == 0 && !holding_) || nowMs - lastStartMs_ < kLogRepeatWindowMs) return;
  TellRepeats(holding_ ? held_.console : lastConsole_);
  // The next showing of the line starts a minute of its own.
  haveLast_ = false;
  if (holding_) {
    holding_ = false;
    Show(held_);
  }
}

void Log::File(LogLevel level, const std::string& line) {
  if (!file_.enabled) return;
  const std::string entry = LocalStamp(nowMs_) + " " + LevelWord(level) + " " + line + "\n";
  const std::string path = FilePath();
  if (!folderMade_) folderMade_ = env_->MakeDirectory(file_.folder).ok();
  if (!sizeKnown_) {
    sizeKnown_ = env_->FileSize(path, &size_).ok();
    if (!sizeKnown_) size_ = 0;
  }
  if (size_ > 0 && size_ + entry.size() > file_.maxBytes) Rotate();
  const platform::Status written = env_->AppendAndFlush(path, entry);
  if (written.ok()) {
    size_ += entry.size();
    sizeKnown_ = true;
    failing_ = false;
    return;
  }
  // Told once for each stretch of failures; the agent goes on without its
  // file, and every line tries again.
  sizeKnown_ = false;
  folderMade_ = false;
  if (failing_) return;
  failing_ = true;
  platform::Env* console = lastConsole_ != nullptr ? lastConsole_ : env_;
  ShowOnConsole(console, LogLevel::kError, false,
                "\nThe log file " + path + " cannot be written (" + written.cause() +
                    "); the agent runs on without it.");
}

void Log::Rotate() {
  const std::string path = FilePath();
  if (file_.keep <= 0) {
    env_->DeleteFileAt(path);
  } else {
    if (env_->PathExists(OldFilePath(file_.keep))) env_->DeleteFileAt(OldFilePath(file_.keep));
    for (int n = file_.keep - 1; n >= 1; --n) {
      if (env_->PathExists(OldFilePath(n)))
        env_->RenameNoReplace(OldFilePath(n), OldFilePath(n + 1));
    }
    env_->RenameNoReplace(path, OldFilePath(1));
  }
  // Whatever became of the old file, the next write finds out the new size.
  sizeKnown_ = false;
  if (!env_->PathExists(path)) {
    size_ = 0;
    sizeKnown_ = true;
  } else {
    sizeKnown_ = env_->FileSize(path, &size_).ok();
  }
}

void SetProcessLog(Log* log) { processLog.store(log); }

Log* ProcessLog() { return processLog.load(); }
