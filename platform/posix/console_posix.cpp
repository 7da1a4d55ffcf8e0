#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "platform/console.h"

namespace platform {
namespace {

// Serialises every write to the two streams, so that a coloured text and the
// switches around it reach the terminal as one piece.
std::mutex& ConsoleLock() {
  static std::mutex lock;
  return lock;
}

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put <= 0) return;
    done += static_cast<std::size_t>(put);
  }
}

// The ANSI sequence for a console attribute: Windows colour bits are blue 1,
// green 2, red 4 and intensity 8; ANSI numbers red 1, green 2, blue 4.
std::string AnsiSequence(uint16_t attribute) {
  auto ansiColour = [](unsigned bits) {
    return ((bits & 4) ? 1 : 0) | ((bits & 2) ? 2 : 0) | ((bits & 1) ? 4 : 0);
  };
  unsigned foreground = attribute & 0x0F;
  unsigned background = (attribute >> 4) & 0x0F;
  int fg = ((foreground & 8) ? 90 : 30) + ansiColour(foreground);
  int bg = ((background & 8) ? 100 : 40) + ansiColour(background);
  return "\x1b[" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
}

// Set once by ConsoleUsePlainText before other threads run; read after.
bool plainText = false;

// Colours and titles go only to a terminal, and not in a service.
bool StdoutIsTerminal() { return !plainText && isatty(STDOUT_FILENO) == 1; }

}  // namespace

void ConsoleWrite(const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  WriteAll(STDOUT_FILENO, text);
}

void ConsoleWriteError(const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  WriteAll(STDERR_FILENO, text);
}

void ConsoleWriteColoured(uint16_t attribute, const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  if (!StdoutIsTerminal()) {
    WriteAll(STDOUT_FILENO, text);
    return;
  }
  WriteAll(STDOUT_FILENO, AnsiSequence(attribute) + text + AnsiSequence(kNormalAttribute));
}

void ConsoleUseNormalColours() {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  if (StdoutIsTerminal()) WriteAll(STDOUT_FILENO, AnsiSequence(kNormalAttribute));
}

void ConsoleSetTitle(const std::string& title) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  if (StdoutIsTerminal()) WriteAll(STDOUT_FILENO, "\x1b]0;" + title + "\x07");
}

void ConsoleUsePlainText() { plainText = true; }

}  // namespace platform
