// The simulation OPC DA 2.0 server: a platform-free engine behind the portable
// OPC server interface of opc/opc_server.h.
//
// The engine serves the objects the agent's OPC client talks to: the server
// list, the server object, its groups, synchronous reads and writes, browsing
// and item properties. Hosts only carry calls to it: the in-process adapter of
// the Linux build hands the objects straight to the client; a COM host wraps
// each object in the COM interface of the same name.
//
// Configuration: <folder>/simulation.ini, read each time a server list or a
// server object is created, so edits apply at the next connection. While a
// file <folder>/simulation.down exists, creations fail with
// CO_E_SERVER_EXEC_FAILURE and every call on earlier objects fails with
// RPC_S_SERVER_UNAVAILABLE (objects look at the marker at most every 100 ms,
// so they notice it within that time). With "counts=1" in its [server]
// section a server object writes "items=<n>" to <folder>/simulation.counts
// each time its groups gain or lose items. The engine uses only standard C++
// (std::ifstream, std::chrono), so the same code runs in every build.
//
// Ownership: creation hands out shared_ptr objects; an object keeps what it
// needs alive (a group keeps its server's item state). Thread-safety: every
// object may be called from any thread; one server object's state (values,
// handles, groups) is guarded by one mutex inside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/opc_server.h"
#include "sim/sim_config.h"
#include "sim/sim_values.h"

namespace sim {

// Where the engine finds its files and its clock.
struct SimEnvironment {
  std::string folder;  // the folder of simulation.ini and simulation.down
  // The current UTC time as a FILETIME (100 ns since 1601-01-01); the system
  // clock when empty. Tests pass a clock of their own.
  std::function<uint64_t()> now;
  // Monotonic nanoseconds, for how long a look at the down marker stands; the
  // standard library's steady clock when empty.
  std::function<int64_t()> monotonicNanoseconds;
};

// The server-list service (IOPCServerList) of this machine.
opc::Result CreateSimServerList(const SimEnvironment& environment,
                                std::shared_ptr<opc::OpcServerList>* serverList);

// A new server object (its IUnknown) of the given class: a fresh address space
// with the values of simulation.ini and the creation time as time stamp.
opc::Result CreateSimServer(const SimEnvironment& environment, const opc::ClassId& classId,
                            std::shared_ptr<opc::OpcObject>* server);

}  // namespace sim
