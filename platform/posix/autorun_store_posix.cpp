// The autorun store of the POSIX build: plain files under the XDG
// configuration folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// A desktop-entry argument: quoted, with the reserved characters escaped, when
// it holds anything a launcher would split or expand.
std::string DesktopArgument(const std::string& text) {
  if (text.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char ch : text) {
    if (ch == '"' || ch == '`' || ch == '$' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  return quoted + "\"";
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
                        "\nExec=" + DesktopArgument(program) + arguments +
                        "\nTerminal=true\nX-GNOME-Autostart-enabled=true\n";
    std::string folder = ConfigHome() + "/autostart";
    return MakeFolders(folder) && ReplaceFileDurably(EntryPath(), entry);
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
