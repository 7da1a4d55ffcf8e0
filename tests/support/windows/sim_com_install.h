// Test support of the Windows build: installs the simulation COM servers
// beside a test's own data folder, as a user would beside the agent, so the
// server they launch reads that folder's data/simulation.ini.
#pragma once

#include <windows.h>

#include <string>

#include "platform/file_system.h"

namespace simcomtest {

// The folder of the running test executable, where the build put the
// simulation servers and the proxy/stub DLL.
inline std::string ThisFolder() { return platform::ExecutableFolder(); }

// Runs a command line and waits up to a minute; its exit code, or the
// creation error with the top bit set.
inline DWORD RunAndWait(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return GetLastError() | 0x80000000u;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// Registers the proxy/stub DLL where the build put it; true on success.
inline bool RegisterProxyStub() {
  HMODULE proxy = LoadLibraryA((ThisFolder() + "\\talvero-opcda-ps.dll").c_str());
  if (proxy == nullptr) return false;
  auto registerProxy = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(proxy, "DllRegisterServer")));
  return registerProxy != nullptr && SUCCEEDED(registerProxy());
}

// Copies the server and the server list into folder and registers them
// there (the proxy/stub too); true when every step succeeded.
inline bool InstallSimulationServers(const std::string& folder) {
  const std::string source = ThisFolder();
  for (const char* file : {"talvero-sim-server.exe", "talvero-sim-list.exe"}) {
    if (!CopyFileA((source + "\\" + file).c_str(), (folder + "\\" + file).c_str(), FALSE)) {
      return false;
    }
  }
  return RunAndWait("\"" + folder + "\\talvero-sim-server.exe\" /regserver") == 0 &&
         RunAndWait("\"" + folder + "\\talvero-sim-list.exe\" /regserver") == 0 &&
         RegisterProxyStub();
}

}  // namespace simcomtest
