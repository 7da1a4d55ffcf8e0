#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/message_box.h"

namespace platform {

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
  bool question = (style & 0xF) == kMbYesNo;
  ConsoleWriteError("\n[" + caption + "] " + text + (question ? "" : "\n"));
  if (!question) return kIdOk;
  if (isatty(STDIN_FILENO) != 1) {
    ConsoleWriteError(" (no terminal: No)\n");
    return kIdNo;
  }
  ConsoleWriteError(" [y/N] ");
  char answer[64];
  ssize_t got = read(STDIN_FILENO, answer, sizeof answer);
  bool yes = got > 0 && (answer[0] == 'y' || answer[0] == 'Y');
  return yes ? kIdYes : kIdNo;
}

}  // namespace platform
