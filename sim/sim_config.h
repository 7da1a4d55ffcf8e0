// The simulation server's configuration: the records that simulation.ini
// describes and the parser that reads them. Pure functions of their input;
// safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opc/opc_server.h"

namespace sim {

// Which step of the conversation fails on purpose (the "fail=" setting).
enum class Fault {
  kNone,
  kList,         // creating the server list: REGDB_E_CLASSNOTREG
  kEnum,         // EnumClassesOfCategories: E_FAIL
  kCreate,       // creating the server object: CO_E_SERVER_EXEC_FAILURE
  kNoServer,     // the object offers no IOPCServer
  kAddGroup,     // AddGroup: E_FAIL
  kNoItemMgt,    // the group offers no IOPCItemMgt
  kAddItems,     // AddItems: E_FAIL
  kRemoveItems,  // RemoveItems: E_FAIL
  kNoSyncIO,     // the group offers no IOPCSyncIO
  kRead,         // every Read: E_FAIL
  kWrite,        // every Write: E_FAIL
  kNoBrowse,     // the server offers no IOPCBrowseServerAddressSpace
  kRegister,     // the COM host never registers its class object, so a creation
                 // gets no answer (Windows build; the in-process host has no
                 // registration); Windows ends its wait with CO_E_SERVER_EXEC_FAILURE
};

// kNone for the empty text and for texts that name no fault.
Fault FaultFromText(const std::string& text);

// The result the failing step answers with (see Fault); kOk for kNone.
opc::Result FaultResult(Fault fault);

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
  // "counts=1": each server object writes how many items its groups hold to
  // simulation.counts beside simulation.ini whenever that changes, so a test
  // outside the process sees whether the client lets go of its items.
  bool writeCounts = false;
  // The delay spares this many device Reads and Writes of each server object
  // first, so that a client connects and samples before the server hangs.
  uint32_t delayAfter = 0;
  std::vector<ItemConfig> items;  // file order
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

}  // namespace sim
