// The autorun store of the POSIX build: plain files under the XDG
// configuration folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "platform/autorun_store.h"
#include "platform/file_system.h"

namespace platform {
namespace {

constexpr char kAgentName[] = "TALVERO AGENT";

std::string ConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config == '/') return config;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

// Creates folder and its missing parents. True when it exists as a folder.
bool MakeFolders(const std::string& folder) {
  for (std::size_t at = folder.find('/', 1); at != std::string::npos;
       at = folder.find('/', at + 1)) {
    std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsDirectory(folder);
}

// The program as a desktop entry's Exec names it: always in double quotes,
// as the Windows build's Run value. Inside the quotes ", `, $ and \ take a
// backslash, and the file's own string escaping then doubles every
// backslash; % starts a field code and is written %%.
// Blanks and every other character stand as they are inside the quotes.
std::string QuotedExecProgram(const std::string& program) {
  std::string quoted = "\"";
  for (char ch : program) {
    if (ch == '"' || ch == '`' || ch == '$') {
      quoted += "\\\\";
      quoted += ch;
    } else if (ch == '\\') {
      quoted += "\\\\\\\\";
    } else if (ch == '%') {
      quoted += "%%";
    } else if (ch == '\n' || ch == '\t' || ch == '\r') {
      // A line end would end the entry's line: written as the file's escape.
      quoted += ch == '\n' ? "\\n" : ch == '\t' ? "\\t" : "\\r";
    } else {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

// Undoes the string escaping of a desktop entry value (\\ \s \n \t \r).
std::string UnescapeEntryValue(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    char next = value[++i];
    text += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
  }
  return text;
}

// Splits an Exec command into its program and the rest (the arguments with
// their leading blank). Quoted: up to the closing quote, with the quoting
// escapes and %% undone. Unquoted (as earlier versions wrote a path without
// blanks): up to the first blank. False when a quote is never closed.
bool SplitExec(const std::string& exec, std::string* program, std::string* arguments) {
  program->clear();
  arguments->clear();
  if (exec.empty() || exec[0] != '"') {
    std::size_t blank = exec.find(' ');
    *program = exec.substr(0, blank);
    if (blank != std::string::npos) *arguments = exec.substr(blank);
    return !program->empty();
  }
  for (std::size_t i = 1; i < exec.size(); ++i) {
    char ch = exec[i];
    if (ch == '"') {
      *arguments = exec.substr(i + 1);
      return true;
    }
    if (ch == '\\' && i + 1 < exec.size()) {
      ch = exec[++i];
    } else if (ch == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
      ++i;
    }
    *program += ch;
  }
  program->clear();
  return false;
}

class PosixAutorunStore : public AutorunStore {
 public:
  bool WriteAgentValue(const std::string& name, const std::string& text) override {
    std::string folder = ValueFolder();
    return MakeFolders(folder) && ReplaceFileDurably(folder + "/" + name, text);
  }

  bool ReadAgentValue(const std::string& name, std::string* text) override {
    if (!ReadWholeFile(ValueFolder() + "/" + name, text) || text->size() > 254) {
      text->clear();
      return false;
    }
    return true;
  }

  bool WriteRunEntry(RunScope scope, const std::string& program,
                     const std::string& arguments) override {
    if (scope != RunScope::kUser) return false;
    std::string entry = std::string("[Desktop Entry]\nType=Application\nName=") + kAgentName +
                        "\nExec=" + QuotedExecProgram(program) + arguments +
                        "\nTerminal=true\nX-GNOME-Autostart-enabled=true\n";
    std::string folder = ConfigHome() + "/autostart";
    return MakeFolders(folder) && ReplaceFileDurably(EntryPath(), entry);
  }

  bool ReadRunEntry(RunScope scope, std::string* program, std::string* arguments) override {
    program->clear();
    arguments->clear();
    std::string content;
    if (scope != RunScope::kUser || !ReadWholeFile(EntryPath(), &content)) return false;
    for (const std::string& line : SplitLines(content)) {
      if (line.compare(0, 5, "Exec=") != 0) continue;
      if (SplitExec(UnescapeEntryValue(line.substr(5)), program, arguments)) return true;
      break;
    }
    program->clear();
    arguments->clear();
    return false;
  }

  bool DeleteRunEntry(RunScope scope) override {
    if (scope != RunScope::kUser) return true;
    std::string path = EntryPath();
    return !PathExists(path) || DeleteFileAt(path);
  }

 private:
  static std::string ValueFolder() { return ConfigHome() + "/talvero/" + kAgentName; }
  static std::string EntryPath() { return ConfigHome() + "/autostart/" + kAgentName + ".desktop"; }
};

}  // namespace

AutorunStore& SystemAutorunStore() {
  static PosixAutorunStore store;
  return store;
}

}  // namespace platform
