// Host of a simulation COM local server. Built twice: as the simulation OPC
// server (SIMCOM_IS_LIST 0) and as the OPC server-list service (1).
//   /regserver    writes the registry entries, /unregserver removes them;
//   /Embedding    (or no argument) serves until the last client is gone;
//                 the server's fault "fail=register" in simulation.ini keeps
//                 it from registering its class object at all.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "simcom/sim_com_objects.h"

int main(int argc, char** argv) {
  const bool isList = SIMCOM_IS_LIST != 0;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  for (int i = 1; i < argc; ++i) {
    bool remove = _stricmp(argv[i], "/unregserver") == 0 || _stricmp(argv[i], "-unregserver") == 0;
    if (remove || _stricmp(argv[i], "/regserver") == 0 || _stricmp(argv[i], "-regserver") == 0) {
      HRESULT hr = simcom::RegisterServer(isList, remove);
      if (FAILED(hr)) std::fprintf(stderr, "registration failed: 0x%08lX\n", static_cast<unsigned long>(hr));
      CoUninitialize();
      return FAILED(hr) ? 1 : 0;
    }
  }
  if (!isList && simcom::NeverRegisters()) {
    // The fault "fail=register": a server started for a creation that never
    // registers its class object, so the creation gets no answer. It stays
    // as a hung server would, for a while, and leaves no trace behind.
    Sleep(simcom::kUnregisteredLifeMs);
    CoUninitialize();
    return 1;
  }
  simcom::KeepInterfacesRegistered(isList);
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  GUID clsid;
  if (isList) {
    clsid = CLSID_OpcServerList;
  } else {
    std::memcpy(&clsid, sim::kSimServerClassId.data(), sizeof clsid);
  }
  IClassFactory* factory = simcom::NewClassFactory(isList, done);
  DWORD cookie = 0;
  HRESULT hr = CoRegisterClassObject(clsid, factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
  if (SUCCEEDED(hr)) hr = CoResumeClassObjects();
  if (SUCCEEDED(hr)) {
    WaitForSingleObject(done, INFINITE);
    CoRevokeClassObject(cookie);
  }
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}
