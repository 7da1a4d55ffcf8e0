// The parts of the file-system interface that are the same on every platform.
#include "platform/file_system.h"

namespace platform {

std::string FolderOf(const std::string& path) {
  const char separators[] = {'/', kPathSeparator, '\0'};
  std::size_t last = path.find_last_of(separators);
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string ExecutableFolder() { return FolderOf(ModulePath()); }

}  // namespace platform
