#include "common/console_output.h"

void PrintText(platform::Env* env, const std::string& text) { env->ConsoleWrite(text); }

void PrintErrorLine(platform::Env* env, const std::string& text, bool strong) {
  env->ConsoleWriteColoured(strong ? 0xCF : 0x9C, text);
}

void PrintGoodLine(platform::Env* env, const std::string& text, bool strong) {
  env->ConsoleWriteColoured(strong ? 0xAF : 0x9A, text);
}

void PrintText(const std::string& text) { PrintText(platform::Env::Default(), text); }

void PrintErrorLine(const std::string& text, bool strong) {
  PrintErrorLine(platform::Env::Default(), text, strong);
}

void PrintGoodLine(const std::string& text, bool strong) {
  PrintGoodLine(platform::Env::Default(), text, strong);
}
