// The OPC DA 2.0 operations the agent's OPC client calls, with portable types.
//
// Each interface mirrors the published COM interface of the same name: same
// calls, same arguments, HRESULT-style 32-bit result codes. Objects are held
// by shared_ptr; dropping the last reference releases the underlying COM
// interface, so a superseded reference never leaks. Texts are UTF-16, as at
// the COM boundary. Arrays that COM returns with CoTaskMemAlloc arrive here as
// vectors the adapter has already copied and freed.
//
// Adapters: the COM adapter (Windows, real DCOM) and the simulation adapter
// (in process, POSIX). Thread-safety: the client calls every object from one
// thread at a time (under the session lock), but from different threads over
// time; adapters must allow that (COM: the process's multithreaded apartment).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace opc {

using Result = int32_t;  // HRESULT

constexpr Result kOk = 0;                       // S_OK
constexpr Result kFalse = 1;                    // S_FALSE
constexpr Result kFail = static_cast<Result>(0x80004005);           // E_FAIL
constexpr Result kNoInterface = static_cast<Result>(0x80004002);    // E_NOINTERFACE
constexpr Result kNotImplemented = static_cast<Result>(0x80004001); // E_NOTIMPL
constexpr Result kInvalidArg = static_cast<Result>(0x80070057);     // E_INVALIDARG
constexpr Result kPointer = static_cast<Result>(0x80004003);        // E_POINTER
constexpr Result kAccessDenied = static_cast<Result>(0x80070005);   // E_ACCESSDENIED
constexpr Result kClassNotRegistered = static_cast<Result>(0x80040154);  // REGDB_E_CLASSNOTREG
constexpr Result kServerExecFailure = static_cast<Result>(0x80080005);   // CO_E_SERVER_EXEC_FAILURE
constexpr Result kServerUnavailable = static_cast<Result>(0x800706BA);   // RPC_S_SERVER_UNAVAILABLE
constexpr Result kDisconnected = static_cast<Result>(0x80010108);        // RPC_E_DISCONNECTED
constexpr Result kInvalidHandle = static_cast<Result>(0xC0040001);  // OPC_E_INVALIDHANDLE
constexpr Result kBadType = static_cast<Result>(0xC0040004);        // OPC_E_BADTYPE
constexpr Result kBadRights = static_cast<Result>(0xC0040006);      // OPC_E_BADRIGHTS
constexpr Result kUnknownItemId = static_cast<Result>(0xC0040007);  // OPC_E_UNKNOWNITEMID
constexpr Result kInvalidItemId = static_cast<Result>(0xC0040008);  // OPC_E_INVALIDITEMID

inline bool Succeeded(Result result) { return result >= 0; }
inline bool Failed(Result result) { return result < 0; }

// VARTYPE codes.
enum VarType : uint16_t {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6,
  VT_DATE = 7, VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12,
  VT_UNKNOWN = 13, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19,
  VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23,
  VT_ARRAY = 0x2000, VT_BYREF = 0x4000,
};

// A VARIANT. Which member holds the value depends on vt:
//   integer: VT_I1..VT_UI8, VT_INT, VT_UINT, VT_ERROR (unsigned types keep their
//            bits; VT_BOOL holds -1 or 0; VT_CY holds the value times 10 000)
//   real:    VT_R4 (widened), VT_R8, VT_DATE (OLE date, days since 1899-12-30)
//   text:    VT_BSTR
// Other types (arrays, references, objects) carry only their vt.
struct Variant {
  uint16_t vt = VT_EMPTY;
  int64_t integer = 0;
  double real = 0.0;
  std::u16string text;
};

// A 16-byte class id in GUID memory order (Data1..Data3 little-endian).
using ClassId = std::array<uint8_t, 16>;

// Builds a class id from its registry text "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
// (braces optional). All zero when the text is malformed.
ClassId ClassIdFromText(const std::string& text);
std::string ClassIdToText(const ClassId& id);  // upper case, without braces

extern const ClassId kCatidOpcDaServer20;  // 63D5F432-CFE4-11D1-B2C8-0060083BA1FB

// OPCBROWSEDIRECTION, OPCBROWSETYPE, OPCDATASOURCE.
constexpr uint32_t kBrowseUp = 1, kBrowseDown = 2, kBrowseTo = 3;
constexpr uint32_t kBrowseBranch = 1, kBrowseLeaf = 2, kBrowseFlat = 3;
constexpr uint32_t kSourceCache = 1, kSourceDevice = 2;

struct ItemDefinition {  // OPCITEMDEF without blob
  std::u16string accessPath;
  std::u16string itemId;
  bool active = true;
  uint32_t clientHandle = 0;
  uint16_t requestedDataType = VT_EMPTY;
};

struct ItemResult {  // OPCITEMRESULT without blob
  uint32_t serverHandle = 0;
  uint16_t canonicalDataType = VT_EMPTY;
  uint32_t accessRights = 0;
};

struct ItemState {  // OPCITEMSTATE
  uint32_t clientHandle = 0;
  uint64_t timeStamp = 0;  // FILETIME: 100 ns since 1601-01-01 UTC
  uint16_t quality = 0;
  Variant value;
};

class OpcSyncIO {
 public:
  virtual ~OpcSyncIO() = default;
  // On success states and errors hold one entry per handle.
  virtual Result Read(uint32_t source, const std::vector<uint32_t>& serverHandles,
                      std::vector<ItemState>* states, std::vector<Result>* errors) = 0;
  virtual Result Write(const std::vector<uint32_t>& serverHandles,
                       const std::vector<Variant>& values, std::vector<Result>* errors) = 0;
};

class OpcItemMgt {
 public:
  virtual ~OpcItemMgt() = default;
  virtual Result AddItems(const std::vector<ItemDefinition>& items,
                          std::vector<ItemResult>* results, std::vector<Result>* errors) = 0;
  // Takes items out of the group: the server lets go of each handle and of
  // what it keeps for the item. errors holds one entry per handle.
  virtual Result RemoveItems(const std::vector<uint32_t>& serverHandles,
                             std::vector<Result>* errors) = 0;
  // QueryInterface for IOPCSyncIO on the same group object.
  virtual Result QuerySyncIO(std::shared_ptr<OpcSyncIO>* syncIO) = 0;
};

class OpcBrowseServerAddressSpace {
 public:
  virtual ~OpcBrowseServerAddressSpace() = default;
  virtual Result ChangeBrowsePosition(uint32_t direction, const std::u16string& position) = 0;
  // The names the string enumerator gives, one per Next, while Next answers S_OK.
  virtual Result BrowseOPCItemIDs(uint32_t browseType, const std::u16string& filter,
                                  uint16_t dataTypeFilter, uint32_t accessRightsFilter,
                                  std::vector<std::u16string>* names) = 0;
  virtual Result GetItemID(const std::u16string& itemDataId, std::u16string* itemId) = 0;
};

class OpcItemProperties {
 public:
  virtual ~OpcItemProperties() = default;
  virtual Result QueryAvailableProperties(const std::u16string& itemId,
                                          std::vector<uint32_t>* propertyIds,
                                          std::vector<std::u16string>* descriptions,
                                          std::vector<uint16_t>* dataTypes) = 0;
  virtual Result GetItemProperties(const std::u16string& itemId,
                                   const std::vector<uint32_t>& propertyIds,
                                   std::vector<Variant>* values, std::vector<Result>* errors) = 0;
};

// IUnknown of a server or group object: the QueryInterface calls the client makes.
class OpcObject;

class OpcServer {
 public:
  virtual ~OpcServer() = default;
  // The group object arrives as its IUnknown.
  virtual Result AddGroup(const std::u16string& name, bool active, uint32_t requestedUpdateRate,
                          uint32_t clientGroupHandle, int32_t timeBias, float percentDeadband,
                          uint32_t localeId, std::shared_ptr<OpcObject>* group) = 0;
  // The server's own text for a result code it gave (IOPCServer::GetErrorString,
  // default locale). An adapter that does not carry the call answers
  // E_NOTIMPL, and the client falls back to the system's text.
  virtual Result GetErrorString(Result code, std::u16string* text) {
    (void)code;
    text->clear();
    return kNotImplemented;
  }
};

class OpcObject {
 public:
  virtual ~OpcObject() = default;
  virtual Result QueryServer(std::shared_ptr<OpcServer>* server) = 0;
  virtual Result QueryBrowse(std::shared_ptr<OpcBrowseServerAddressSpace>* browse) = 0;
  virtual Result QueryProperties(std::shared_ptr<OpcItemProperties>* properties) = 0;
  virtual Result QueryItemMgt(std::shared_ptr<OpcItemMgt>* itemMgt) = 0;
  virtual Result QuerySyncIO(std::shared_ptr<OpcSyncIO>* syncIO) = 0;
};

class OpcServerList {
 public:
  virtual ~OpcServerList() = default;
  // The class ids the IEnumGUID gives, one per Next, while Next answers S_OK.
  virtual Result EnumClassesOfCategories(const std::vector<ClassId>& implemented,
                                         const std::vector<ClassId>& required,
                                         std::vector<ClassId>* classes) = 0;
  virtual Result GetClassDetails(const ClassId& classId, std::u16string* progId,
                                 std::u16string* userType) = 0;
  virtual Result CLSIDFromProgID(const std::u16string& progId, ClassId* classId) = 0;
};

// Where and as whom objects are created. Remote creation names the host and
// carries the account (NTLM, packet integrity, impersonation).
struct CreationTarget {
  bool remote = false;
  std::u16string host;
  std::u16string user;
  std::u16string domain;
  std::u16string password;
};

// Creates the server-list service and server objects. For a remote creation
// the adapter also checks the interface's own result in the MULTI_QI entry.
class OpcConnector {
 public:
  virtual ~OpcConnector() = default;
  virtual Result CreateServerList(const CreationTarget& target,
                                  std::shared_ptr<OpcServerList>* serverList) = 0;
  virtual Result CreateServer(const ClassId& classId, const CreationTarget& target,
                              std::shared_ptr<OpcObject>* server) = 0;
  // The system's message text for a result code; empty when it has none.
  virtual std::string SystemMessageText(Result result) = 0;
};

// The connector of this build, for an agent whose data folder is under
// baseDirectory (the simulation adapter reads its simulation file there).
std::unique_ptr<OpcConnector> CreatePlatformConnector(const std::string& baseDirectory);

}  // namespace opc
