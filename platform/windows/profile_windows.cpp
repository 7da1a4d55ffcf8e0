#include <windows.h>

#include <vector>

#include "platform/profile.h"

namespace platform {

std::string ProfileReadText(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& defaultValue) {
  // Large enough that no setting is ever cut; grown when a value fills it.
  std::vector<char> buffer(4096);
  for (;;) {
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                            buffer.data(), static_cast<DWORD>(buffer.size()),
                                            path.c_str());
    if (length + 1 < buffer.size() || buffer.size() >= (1u << 20)) {
      return std::string(buffer.data(), length);
    }
    buffer.resize(buffer.size() * 4);
  }
}

int32_t ProfileReadInt(const std::string& path, const std::string& section,
                       const std::string& key, int32_t defaultValue) {
  return static_cast<int32_t>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str()));
}

bool ProfileWriteText(const std::string& path, const std::string& section,
                      const std::string& key, const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         0;
}

}  // namespace platform
