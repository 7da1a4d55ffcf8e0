#include "common/console_output.h"

#include "common/log.h"

namespace {

// Every console line goes through the process's log when there is one.
void Print(platform::Env* env, LogLevel level, bool strong, const std::string& text) {
  if (Log* log = ProcessLog()) {
    log->Write(env, level, strong, text);
  } else {
    ShowOnConsole(env, level, strong, text);
  }
}

}  // namespace

void PrintText(platform::Env* env, const std::string& text) {
  Print(env, LogLevel::kInfo, false, text);
}

void PrintErrorLine(platform::Env* env, const std::string& text, bool strong) {
  Print(env, LogLevel::kError, strong, text);
}

void PrintGoodLine(platform::Env* env, const std::string& text, bool strong) {
  Print(env, LogLevel::kGood, strong, text);
}

void PrintText(const std::string& text) { PrintText(platform::Env::Default(), text); }

void PrintErrorLine(const std::string& text, bool strong) {
  PrintErrorLine(platform::Env::Default(), text, strong);
}

void PrintGoodLine(const std::string& text, bool strong) {
  PrintGoodLine(platform::Env::Default(), text, strong);
}
