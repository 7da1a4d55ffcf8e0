#include "common/process_paths.h"

#include "platform/file_system.h"

ProcessPaths processPaths;

namespace {
std::string DataPathUnder(const std::string& base, const std::string& name) {
  return base + platform::kPathSeparator + "data" + platform::kPathSeparator + name;
}
}  // namespace

void SetProcessPaths(const std::string& modulePath, ProcessPaths* paths) {
  paths->instanceName = std::string(" ") + kAgentTitle + " Ver " + kAgentVersion;
  paths->modulePath = modulePath;
  std::size_t last = modulePath.rfind(platform::kPathSeparator);
  paths->baseDirectory = last == std::string::npos ? std::string() : modulePath.substr(0, last);
  paths->configPath = DataPathUnder(paths->baseDirectory, "config.ini");
}

std::string DataFilePath(const std::string& name) {
  return DataPathUnder(processPaths.baseDirectory, name);
}
