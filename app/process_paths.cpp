#include "app/process_paths.h"

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
  paths->baseDirectory = platform::FolderOf(modulePath);
  paths->configPath = DataPathUnder(paths->baseDirectory, "config.ini");
}

std::string DataFilePath(const std::string& name) {
  return DataPathUnder(processPaths.baseDirectory, name);
}
