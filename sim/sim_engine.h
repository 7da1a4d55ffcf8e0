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
// RPC_S_SERVER_UNAVAILABLE. The engine uses only standard C++ (std::ifstream,
// std::chrono), so the same code runs in every build.
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

namespace sim {

// Which step of the conversation fails on purpose (the "fail=" setting).
enum class Fault {
  kNone,
  kList,       // creating the server list: REGDB_E_CLASSNOTREG
  kEnum,       // EnumClassesOfCategories: E_FAIL
  kCreate,     // creating the server object: CO_E_SERVER_EXEC_FAILURE
  kNoServer,   // the object offers no IOPCServer
  kAddGroup,   // AddGroup: E_FAIL
  kNoItemMgt,  // the group offers no IOPCItemMgt
  kAddItems,   // AddItems: E_FAIL
  kNoSyncIO,   // the group offers no IOPCSyncIO
  kRead,       // every Read: E_FAIL
  kWrite,      // every Write: E_FAIL
  kNoBrowse,   // the server offers no IOPCBrowseServerAddressSpace
};

// kNone for the empty text and for texts that name no fault.
Fault FaultFromText(const std::string& text);

enum class Behaviour { kStatic, kRamp, kRandom, kSine, kToggle };

// One line of the [items] section.
struct ItemConfig {
  std::string itemId;             // full item id, case-sensitive
  uint16_t type = opc::VT_EMPTY;  // canonical data type
  Behaviour behaviour = Behaviour::kStatic;
  bool readOnly = false;        // behaviour written with the suffix "-ro"
  std::vector<double> numbers;  // ramp: low, high, step; random: low, high; sine: amplitude, period
  std::string staticText;       // static: the value text (a BSTR keeps its commas)
};

struct ListedServer {
  std::string progId;
  std::string name;  // user type name
};

struct SimConfig {
  std::string progId = "Talvero.Simulation.1";
  std::string name = "Talvero Simulation Server";
  std::vector<ListedServer> others;  // listed before the simulation server
  Fault fault = Fault::kNone;
  uint32_t delayMilliseconds = 0;  // added to every device Read and Write
  std::vector<ItemConfig> items;   // file order
};

// Parses the text of simulation.ini: sections [server] and [items], keys up to
// the first "=", values trimmed, inline comments from " ;" or a tab before ";"
// (and whole-line comments) removed. Lines that make no sense are skipped, so
// a damaged file still gives a working server. Never fails.
SimConfig ParseSimConfig(const std::string& text);

// The type name of the file format ("VT_R8") to its code; VT_EMPTY if unknown.
uint16_t TypeFromName(const std::string& name);

// The class id the simulation server is registered under, whatever its ProgID.
extern const opc::ClassId kSimServerClassId;  // 7A1C0E52-3B6D-4F0A-9E21-54A0C7D1B301

// The class id of a listed server: kSimServerClassId for the configured
// ProgID, a fixed id derived from the ProgID text for the "others" (which are
// listed but cannot be created: REGDB_E_CLASSNOTREG).
opc::ClassId ClassIdForProgId(const SimConfig& config, const std::string& progId);

// Where the engine finds its files and its clock.
struct SimEnvironment {
  std::string folder;  // the folder of simulation.ini and simulation.down
  // The current UTC time as a FILETIME (100 ns since 1601-01-01); the system
  // clock when empty. Tests pass a clock of their own.
  std::function<uint64_t()> now;
};

// The current UTC time as a FILETIME from the standard library clock.
uint64_t SystemFileTimeNow();

// The server-list service (IOPCServerList) of this machine.
opc::Result CreateSimServerList(const SimEnvironment& environment,
                                std::shared_ptr<opc::OpcServerList>* serverList);

// A new server object (its IUnknown) of the given class: a fresh address space
// with the values of simulation.ini and the creation time as time stamp.
opc::Result CreateSimServer(const SimEnvironment& environment, const opc::ClassId& classId,
                            std::shared_ptr<opc::OpcObject>* server);

// Converts a value to a type the way VariantChangeType does (numbers rounded
// and range-checked, texts parsed, VT_BOOL as -1/0). False when the value
// cannot be represented in the type.
bool ChangeVariantType(const opc::Variant& from, uint16_t type, opc::Variant* to);

}  // namespace sim
