// The autorun store of the Windows build: the registry.
#include <windows.h>

#include <string>

#include "platform/autorun_store.h"

namespace platform {
namespace {

constexpr char kAgentKey[] = "Software\\talvero\\TALVERO AGENT";
constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "TALVERO AGENT";

// Opens a key with two tries (a registry under load may refuse once) and,
// when create is set and both fail, creates it. Null when it cannot be had.
HKEY OpenKey(HKEY root, const char* path, REGSAM access, bool create) {
  HKEY key = nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (RegOpenKeyExA(root, path, 0, access, &key) == ERROR_SUCCESS) return key;
  }
  if (create && RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                &key, nullptr) == ERROR_SUCCESS) {
    return key;
  }
  return nullptr;
}

bool SetText(HKEY key, const char* name, const std::string& text) {
  // Stored with its terminating zero.
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// Splits a Run value into its program and the rest (the arguments with their
// leading blank). Quoted: the text between the quotes. Unquoted, as earlier
// versions wrote it: up to the first ".exe" that ends a word, so a blank in
// the folder stays part of the program; without one, up to the first blank.
// False for an empty value or a quote that is never closed.
bool SplitCommand(const std::string& command, std::string* program, std::string* arguments) {
  std::size_t end = std::string::npos;
  if (!command.empty() && command[0] == '"') {
    std::size_t close = command.find('"', 1);
    if (close == std::string::npos) return false;
    *program = command.substr(1, close - 1);
    *arguments = command.substr(close + 1);
    return !program->empty();
  }
  std::string lower = command;
  for (char& ch : lower) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  for (std::size_t at = lower.find(".exe"); at != std::string::npos;
       at = lower.find(".exe", at + 1)) {
    if (at + 4 == lower.size() || lower[at + 4] == ' ') {
      end = at + 4;
      break;
    }
  }
  if (end == std::string::npos) end = command.find(' ');
  *program = command.substr(0, end);
  if (end != std::string::npos) *arguments = command.substr(end);
  return !program->empty();
}

HKEY RunRoot(RunScope scope) {
  return scope == RunScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class RegistryAutorunStore : public AutorunStore {
 public:
  bool WriteAgentValue(const std::string& name, const std::string& text) override {
    HKEY key = OpenKey(HKEY_CURRENT_USER, kAgentKey, KEY_WRITE, true);
    if (key == nullptr) return false;
    bool written = SetText(key, name.c_str(), text);
    RegCloseKey(key);
    return written;
  }

  bool ReadAgentValue(const std::string& name, std::string* text) override {
    text->clear();
    HKEY key = OpenKey(HKEY_CURRENT_USER, kAgentKey, KEY_READ, false);
    if (key == nullptr) return false;
    char buffer[255] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer;
    LONG result =
        RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // A value stored without its terminating zero still ends at size.
    std::size_t length = size;
    while (length > 0 && buffer[length - 1] == '\0') --length;
    text->assign(buffer, length);
    return true;
  }

  bool WriteRunEntry(RunScope scope, const std::string& program,
                     const std::string& arguments) override {
    HKEY key = OpenKey(RunRoot(scope), kRunKey, KEY_WRITE, true);
    if (key == nullptr) return false;
    // A Windows path holds no double quote, so the quotes need no escaping.
    bool written = SetText(key, kRunValue, "\"" + program + "\"" + arguments);
    RegCloseKey(key);
    return written;
  }

  bool ReadRunEntry(RunScope scope, std::string* program, std::string* arguments) override {
    program->clear();
    arguments->clear();
    HKEY key = OpenKey(RunRoot(scope), kRunKey, KEY_QUERY_VALUE, false);
    if (key == nullptr) return false;
    char buffer[MAX_PATH * 2 + 64] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - 1;
    LONG result =
        RegQueryValueExA(key, kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    std::size_t length = size;
    while (length > 0 && buffer[length - 1] == '\0') --length;
    return SplitCommand(std::string(buffer, length), program, arguments);
  }

  bool DeleteRunEntry(RunScope scope) override {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(RunRoot(scope), kRunKey, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;  // no Run key, so no entry either
    if (opened != ERROR_SUCCESS) {
      // Not ours to change (a normal user and the machine's key): the entry
      // is gone only when a look with read rights finds none.
      return !RunEntryExists(scope);
    }
    LONG result = RegDeleteValueA(key, kRunValue);
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
  }

 private:
  // True unless the entry is known to be absent: a key or value that cannot
  // be read counts as present, so a failure is never taken for success.
  static bool RunEntryExists(RunScope scope) {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(RunRoot(scope), kRunKey, 0, KEY_QUERY_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return false;
    if (opened != ERROR_SUCCESS) return true;
    LONG queried = RegQueryValueExA(key, kRunValue, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return queried != ERROR_FILE_NOT_FOUND;
  }
};

}  // namespace

AutorunStore& SystemAutorunStore() {
  static RegistryAutorunStore store;
  return store;
}

}  // namespace platform
