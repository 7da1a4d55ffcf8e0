// COM objects of the simulation server: each wraps the engine object of the
// same name (sim/sim_engine.h) in the OPC DA interface the agent calls, so the
// Windows build talks to the very engine the Linux build uses in process.
//
// Ownership: COM reference counting; each object holds its engine object by
// shared_ptr and counts itself in the server process (CoAddRefServerProcess),
// so the process ends when the last client reference goes. Thread-safety:
// objects live in the multithreaded apartment; the engine guards its state.
#pragma once

#include <windows.h>

#include <string>

#include "opcda.h"
#include "sim/sim_engine.h"

namespace simcom {

// The folder of simulation.ini: "data" beside this executable.
std::string DataFolder();

// True when DataFolder()'s simulation.ini sets the fault "fail=register":
// the server never registers its class object.
bool NeverRegisters();

// How long a server that never registers stays before it ends by itself.
constexpr DWORD kUnregisteredLifeMs = 10 * 60 * 1000;

// Keeps the RPC registration of every interface this server serves for the
// life of the process (see the definition for the fault of Wine's it avoids).
// Call once, after CoInitializeEx and before the class object is registered.
void KeepInterfacesRegistered(bool isList);

// The class factory making simulation server objects (isList false) or the
// server-list service (isList true); it lives as long as the process. done is
// signalled when the last object and lock are gone. Call once.
IClassFactory* NewClassFactory(bool isList, HANDLE done);

// Writes or removes the registry entries of the server or of the server list
// (LocalServer32 = this executable). S_OK or the registry failure.
HRESULT RegisterServer(bool isList, bool remove);

// The user type name and ProgID under which the server class is registered.
extern const wchar_t kServerProgId[];
extern const wchar_t kServerUserType[];

}  // namespace simcom
