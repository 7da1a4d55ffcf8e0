#include "app/console_output.h"

#include "platform/console.h"

void PrintText(const std::string& text) { platform::ConsoleWrite(text); }

void PrintErrorLine(const std::string& text, bool strong) {
  platform::ConsoleWriteColoured(strong ? 0xCF : 0x9C, text);
}

void PrintGoodLine(const std::string& text, bool strong) {
  platform::ConsoleWriteColoured(strong ? 0xAF : 0x9A, text);
}
