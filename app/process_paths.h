// The process-wide names and paths of the agent.
//
// The console host's: set on the main thread by startup before any other
// thread exists, read without a lock afterwards by the host and its tray and
// console handlers. The agent itself is handed its data folder instead.
#pragma once

#include <string>

constexpr char kAgentTitle[] = "TALVERO AGENT";
constexpr char kAgentVersion[] = "1.0";

struct ProcessPaths {
  std::string instanceName;   // " TALVERO AGENT Ver 1.0"
  std::string modulePath;     // full path of the executable
  std::string baseDirectory;  // folder of the executable; all data lives under its data folder
  std::string configPath;     // baseDirectory + "/data/config.ini"
};

extern ProcessPaths processPaths;

// Fills every path from the executable's full path.
void SetProcessPaths(const std::string& modulePath, ProcessPaths* paths);

// baseDirectory + separator + "data" + separator + name.
std::string DataFilePath(const std::string& name);
