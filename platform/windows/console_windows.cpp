#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/console.h"

namespace platform {
namespace {

// Serialises every write, so that a coloured text and the switches around it
// reach the console as one piece.
std::mutex& ConsoleLock() {
  static std::mutex lock;
  return lock;
}

void WriteAll(HANDLE handle, const std::string& text) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD put = 0;
    if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &put,
                   nullptr) ||
        put == 0) {
      return;
    }
    done += put;
  }
}

}  // namespace

void ConsoleWrite(const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void ConsoleWriteError(const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  WriteAll(GetStdHandle(STD_ERROR_HANDLE), text);
}

namespace {
// Set once by ConsoleUsePlainText before other threads run; read after.
bool plainText = false;
}  // namespace

void ConsoleWriteColoured(uint16_t attribute, const std::string& text) {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  bool valid = !plainText && output != INVALID_HANDLE_VALUE && output != nullptr;
  if (valid) SetConsoleTextAttribute(output, attribute);
  WriteAll(output, text);
  if (valid) SetConsoleTextAttribute(output, kNormalAttribute);
}

void ConsoleUseNormalColours() {
  std::lock_guard<std::mutex> hold(ConsoleLock());
  // Only a real console is recoloured; a redirected stream stays untouched.
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output != INVALID_HANDLE_VALUE && output != nullptr && GetConsoleMode(output, &mode)) {
    std::system("color 9f");
    SetConsoleTextAttribute(output, kNormalAttribute);
  }
}

void ConsoleSetTitle(const std::string& title) {
  if (!plainText) SetConsoleTitleA(title.c_str());
}

void ConsoleUsePlainText() { plainText = true; }

}  // namespace platform
