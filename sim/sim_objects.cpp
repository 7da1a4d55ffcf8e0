// The simulation server's COM-shaped objects: the server list, the server
// object (with browsing and item properties) and its groups.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "common/text.h"
#include "common/utf.h"
#include "sim/sim_engine.h"

namespace sim {

namespace {

// How long a look at the down marker stands for.
constexpr int64_t kDownMarkerInterval = 100 * 1000 * 1000;  // ns

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return (last == '/' || last == '\\') ? folder + name : folder + "/" + name;
}

bool DownMarkerExists(const SimEnvironment& environment) {
  std::ifstream file(JoinPath(environment.folder, "simulation.down"), std::ios::binary);
  return file.good();
}

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SimConfig LoadConfig(const SimEnvironment& environment) {
  std::ifstream file(JoinPath(environment.folder, "simulation.ini"), std::ios::binary);
  if (!file) return SimConfig{};
  std::ostringstream content;
  content << file.rdbuf();
  return ParseSimConfig(content.str());
}

// The one check every OPC call on an object passes first: while the down
// marker exists every call fails as an unreachable server would; the
// configured fault switch fails the one step it names. The marker is looked at
// no more than once per kDownMarkerInterval, so a busy client does not cost a
// file open per call; a new marker is therefore noticed within that interval.
class CallGate {
 public:
  CallGate(SimEnvironment environment, Fault configured)
      : environment_(std::move(environment)), configured_(configured) {}

  // kOk when the call may go on; otherwise the result the call answers.
  opc::Result Admit(Fault step = Fault::kNone) {
    if (Down()) return opc::kServerUnavailable;
    if (step != Fault::kNone && step == configured_) return FaultResult(step);
    return opc::kOk;
  }

 private:
  bool Down() {
    int64_t now = environment_.monotonicNanoseconds ? environment_.monotonicNanoseconds()
                                                    : SteadyNanoseconds();
    std::lock_guard<std::mutex> hold(lock_);
    if (!looked_ || now - lookedAt_ >= kDownMarkerInterval) {
      down_ = DownMarkerExists(environment_);
      lookedAt_ = now;
      looked_ = true;
    }
    return down_;
  }

  const SimEnvironment environment_;
  const Fault configured_;
  std::mutex lock_;  // guards the last look at the marker: the three fields below
  bool looked_ = false;
  int64_t lookedAt_ = 0;
  bool down_ = false;
};

// The texts the server gives for the OPC codes it answers with.
struct OpcErrorText {
  opc::Result code;
  const char* text;
};
const OpcErrorText kOpcErrorTexts[] = {
    {opc::kInvalidHandle, "The value of the handle is invalid."},
    {opc::kBadType,
     "The server cannot convert the data between the specified format and/or requested data "
     "type and the canonical data type."},
    {opc::kBadRights, "The item's access rights do not allow the operation."},
    {opc::kUnknownItemId,
     "The item ID is not defined in the server address space or no longer exists in the server "
     "address space."},
    {opc::kInvalidItemId, "The item ID doesn't conform to the server's syntax."},
};

// The state of one server object: its items, handles and browse position.
struct ServerState {
  ServerState(SimEnvironment environment, SimConfig configuration)
      : environment(std::move(environment)),
        config(std::move(configuration)),
        gate(this->environment, config.fault) {}

  const SimEnvironment environment;
  const SimConfig config;
  uint64_t created = 0;
  CallGate gate;    // shared by the server object and all its groups
  std::mutex lock;  // guards everything below
  std::vector<ItemRuntime> items;
  std::map<uint32_t, size_t> itemByHandle;
  uint32_t nextHandle = 1;
  std::string browsePosition;

  uint64_t Now() const { return environment.now ? environment.now() : SystemFileTimeNow(); }

  int FindItem(const std::string& id) const {
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].config.itemId == id) return static_cast<int>(i);
    }
    return -1;
  }

  // The item's present value and its time stamp. Caller holds lock.
  void Current(const ItemRuntime& item, uint64_t now, opc::Variant* value, uint64_t* stamp) const {
    CurrentValue(item, created, now, value, stamp);
  }

  // Tells simulation.counts how many items the groups hold, when the file
  // asks for it. Caller holds lock, so two changes never write at once.
  void WriteCounts() const {
    if (!config.writeCounts) return;
    std::ofstream file(JoinPath(environment.folder, "simulation.counts"),
                       std::ios::binary | std::ios::trunc);
    file << "items=" << itemByHandle.size() << "\n";
  }

  // Device Reads and Writes so far, for the calls the delay spares.
  mutable std::atomic<uint32_t> delayable{0};

  void Delay() const {
    if (config.delayMilliseconds > 0 && delayable.fetch_add(1) >= config.delayAfter) {
      std::this_thread::sleep_for(std::chrono::milliseconds(config.delayMilliseconds));
    }
  }
};

class SimGroup : public opc::OpcObject,
                 public opc::OpcItemMgt,
                 public opc::OpcSyncIO,
                 public std::enable_shared_from_this<SimGroup> {
 public:
  explicit SimGroup(std::shared_ptr<ServerState> state) : state_(std::move(state)) {}
  // A group let go of takes its items with it, as a server removes them with
  // the group.
  ~SimGroup() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (handles_.empty()) return;
    for (uint32_t handle : handles_) state_->itemByHandle.erase(handle);
    state_->WriteCounts();
  }

  opc::Result QueryServer(std::shared_ptr<opc::OpcServer>*) override { return opc::kNoInterface; }
  opc::Result QueryBrowse(std::shared_ptr<opc::OpcBrowseServerAddressSpace>*) override {
    return opc::kNoInterface;
  }
  opc::Result QueryProperties(std::shared_ptr<opc::OpcItemProperties>*) override {
    return opc::kNoInterface;
  }
  opc::Result QueryItemMgt(std::shared_ptr<opc::OpcItemMgt>* itemMgt) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kNoItemMgt)) return refused;
    *itemMgt = shared_from_this();
    return opc::kOk;
  }
  opc::Result QuerySyncIO(std::shared_ptr<opc::OpcSyncIO>* syncIO) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kNoSyncIO)) return refused;
    *syncIO = shared_from_this();
    return opc::kOk;
  }

  opc::Result AddItems(const std::vector<opc::ItemDefinition>& definitions,
                       std::vector<opc::ItemResult>* results,
                       std::vector<opc::Result>* errors) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kAddItems)) return refused;
    if (definitions.empty()) return opc::kInvalidArg;
    std::lock_guard<std::mutex> hold(state_->lock);
    results->assign(definitions.size(), opc::ItemResult{});
    errors->assign(definitions.size(), opc::kOk);
    bool anyFailed = false;
    for (size_t i = 0; i < definitions.size(); ++i) {
      int index = state_->FindItem(Utf16ToUtf8(definitions[i].itemId));
      if (index < 0) {
        (*errors)[i] = opc::kUnknownItemId;
        anyFailed = true;
        continue;
      }
      uint32_t handle = state_->nextHandle++;
      state_->itemByHandle[handle] = static_cast<size_t>(index);
      handles_.insert(handle);
      const ItemRuntime& item = state_->items[index];
      (*results)[i].serverHandle = handle;
      (*results)[i].canonicalDataType = item.config.type;
      (*results)[i].accessRights = item.config.readOnly ? 1 : 3;
    }
    state_->WriteCounts();
    return anyFailed ? opc::kFalse : opc::kOk;
  }

  opc::Result RemoveItems(const std::vector<uint32_t>& handles,
                          std::vector<opc::Result>* errors) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kRemoveItems)) return refused;
    if (handles.empty()) return opc::kInvalidArg;
    std::lock_guard<std::mutex> hold(state_->lock);
    errors->assign(handles.size(), opc::kOk);
    bool anyFailed = false;
    for (size_t i = 0; i < handles.size(); ++i) {
      // Only this group's own items: another group's handle is invalid here.
      if (handles_.erase(handles[i]) == 0) {
        (*errors)[i] = opc::kInvalidHandle;
        anyFailed = true;
        continue;
      }
      state_->itemByHandle.erase(handles[i]);
    }
    state_->WriteCounts();
    return anyFailed ? opc::kFalse : opc::kOk;
  }

  opc::Result Read(uint32_t source, const std::vector<uint32_t>& handles,
                   std::vector<opc::ItemState>* states, std::vector<opc::Result>* errors) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kRead)) return refused;
    if (handles.empty() || (source != opc::kSourceCache && source != opc::kSourceDevice)) {
      return opc::kInvalidArg;
    }
    if (source == opc::kSourceDevice) state_->Delay();
    std::lock_guard<std::mutex> hold(state_->lock);
    uint64_t now = state_->Now();
    states->assign(handles.size(), opc::ItemState{});
    errors->assign(handles.size(), opc::kOk);
    bool anyFailed = false;
    for (size_t i = 0; i < handles.size(); ++i) {
      auto found = state_->itemByHandle.find(handles[i]);
      if (found == state_->itemByHandle.end()) {
        (*errors)[i] = opc::kInvalidHandle;
        anyFailed = true;
        continue;
      }
      opc::ItemState& itemState = (*states)[i];
      state_->Current(state_->items[found->second], now, &itemState.value, &itemState.timeStamp);
      itemState.quality = 0xC0;
    }
    return anyFailed ? opc::kFalse : opc::kOk;
  }

  opc::Result Write(const std::vector<uint32_t>& handles, const std::vector<opc::Variant>& values,
                    std::vector<opc::Result>* errors) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kWrite)) return refused;
    if (handles.empty() || handles.size() != values.size()) return opc::kInvalidArg;
    state_->Delay();
    std::lock_guard<std::mutex> hold(state_->lock);
    uint64_t now = state_->Now();
    errors->assign(handles.size(), opc::kOk);
    bool anyFailed = false;
    for (size_t i = 0; i < handles.size(); ++i) {
      auto found = state_->itemByHandle.find(handles[i]);
      if (found == state_->itemByHandle.end()) {
        (*errors)[i] = opc::kInvalidHandle;
        anyFailed = true;
        continue;
      }
      ItemRuntime& item = state_->items[found->second];
      opc::Variant converted;
      if (item.config.readOnly) {
        (*errors)[i] = opc::kBadRights;
        anyFailed = true;
      } else if (!ChangeVariantType(values[i], item.config.type, &converted)) {
        (*errors)[i] = opc::kBadType;
        anyFailed = true;
      } else {
        item.value = converted;
        item.changed = now;
        item.written = true;
      }
    }
    return anyFailed ? opc::kFalse : opc::kOk;
  }

 private:
  std::shared_ptr<ServerState> state_;
  std::set<uint32_t> handles_;  // the items added to this group; guarded by state_->lock
};

class SimServer : public opc::OpcObject,
                  public opc::OpcServer,
                  public opc::OpcBrowseServerAddressSpace,
                  public opc::OpcItemProperties,
                  public std::enable_shared_from_this<SimServer> {
 public:
  explicit SimServer(std::shared_ptr<ServerState> state) : state_(std::move(state)) {}

  opc::Result QueryServer(std::shared_ptr<opc::OpcServer>* server) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kNoServer)) return refused;
    *server = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryBrowse(std::shared_ptr<opc::OpcBrowseServerAddressSpace>* browse) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kNoBrowse)) return refused;
    *browse = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryProperties(std::shared_ptr<opc::OpcItemProperties>* properties) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    *properties = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryItemMgt(std::shared_ptr<opc::OpcItemMgt>*) override { return opc::kNoInterface; }
  opc::Result QuerySyncIO(std::shared_ptr<opc::OpcSyncIO>*) override { return opc::kNoInterface; }

  opc::Result AddGroup(const std::u16string&, bool, uint32_t, uint32_t, int32_t, float, uint32_t,
                       std::shared_ptr<opc::OpcObject>* group) override {
    if (opc::Result refused = state_->gate.Admit(Fault::kAddGroup)) return refused;
    *group = std::make_shared<SimGroup>(state_);
    return opc::kOk;
  }

  opc::Result GetErrorString(opc::Result code, std::u16string* text) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    for (const OpcErrorText& known : kOpcErrorTexts) {
      if (known.code == code) {
        *text = Utf8ToUtf16(known.text);
        return opc::kOk;
      }
    }
    return opc::kInvalidArg;  // not a code of this server
  }

  opc::Result ChangeBrowsePosition(uint32_t direction, const std::u16string& position) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    std::lock_guard<std::mutex> hold(state_->lock);
    std::string path = Utf16ToUtf8(position);
    std::string& current = state_->browsePosition;
    if (direction == opc::kBrowseTo) {
      if (path.empty()) {
        current.clear();
        return opc::kOk;
      }
      if (!IsBranch(path)) return opc::kInvalidArg;
      current = path;
      return opc::kOk;
    }
    if (direction == opc::kBrowseUp) {
      if (current.empty()) return opc::kFail;
      size_t dot = current.rfind('.');
      current = dot == std::string::npos ? "" : current.substr(0, dot);
      return opc::kOk;
    }
    if (direction == opc::kBrowseDown) {
      std::string target = current.empty() ? path : current + "." + path;
      if (path.empty() || !IsBranch(target)) return opc::kInvalidArg;
      current = target;
      return opc::kOk;
    }
    return opc::kInvalidArg;
  }

  opc::Result BrowseOPCItemIDs(uint32_t browseType, const std::u16string&, uint16_t, uint32_t,
                               std::vector<std::u16string>* names) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    std::lock_guard<std::mutex> hold(state_->lock);
    names->clear();
    const std::string& current = state_->browsePosition;
    std::string prefix = current.empty() ? "" : current + ".";
    for (const ItemRuntime& item : state_->items) {
      const std::string& id = item.config.itemId;
      if (browseType == opc::kBrowseFlat) {
        names->push_back(Utf8ToUtf16(id));
        continue;
      }
      if (id.compare(0, prefix.size(), prefix) != 0) continue;
      std::string rest = id.substr(prefix.size());
      size_t dot = rest.find('.');
      if (browseType == opc::kBrowseLeaf && dot == std::string::npos) {
        names->push_back(Utf8ToUtf16(rest));
      } else if (browseType == opc::kBrowseBranch && dot != std::string::npos) {
        std::u16string branch = Utf8ToUtf16(rest.substr(0, dot));
        bool seen = false;
        for (const auto& name : *names) seen = seen || name == branch;
        if (!seen) names->push_back(branch);
      }
    }
    return names->empty() ? opc::kFalse : opc::kOk;
  }

  opc::Result GetItemID(const std::u16string& itemDataId, std::u16string* itemId) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    std::lock_guard<std::mutex> hold(state_->lock);
    const std::string& current = state_->browsePosition;
    *itemId = current.empty() ? itemDataId : Utf8ToUtf16(current + ".") + itemDataId;
    return opc::kOk;
  }

  opc::Result QueryAvailableProperties(const std::u16string& itemId, std::vector<uint32_t>* ids,
                                       std::vector<std::u16string>* descriptions,
                                       std::vector<uint16_t>* dataTypes) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->FindItem(Utf16ToUtf8(itemId)) < 0) return opc::kUnknownItemId;
    *ids = {1, 2, 3, 4, 5, 6};
    *descriptions = {u"Item Canonical DataType", u"Item Value",         u"Item Quality",
                     u"Item Timestamp",          u"Item Access Rights", u"Server Scan Rate"};
    *dataTypes = {opc::VT_I2, opc::VT_VARIANT, opc::VT_I2, opc::VT_DATE, opc::VT_I4, opc::VT_R4};
    return opc::kOk;
  }

  opc::Result GetItemProperties(const std::u16string& itemId, const std::vector<uint32_t>& ids,
                                std::vector<opc::Variant>* values,
                                std::vector<opc::Result>* errors) override {
    if (opc::Result refused = state_->gate.Admit()) return refused;
    std::lock_guard<std::mutex> hold(state_->lock);
    int index = state_->FindItem(Utf16ToUtf8(itemId));
    if (index < 0) return opc::kUnknownItemId;
    const ItemRuntime& item = state_->items[index];
    values->assign(ids.size(), opc::Variant{});
    errors->assign(ids.size(), opc::kOk);
    bool anyFailed = false;
    uint64_t now = state_->Now();
    for (size_t i = 0; i < ids.size(); ++i) {
      opc::Variant& value = (*values)[i];
      uint64_t stamp = 0;
      switch (ids[i]) {
        case 1:
          value.vt = opc::VT_I2;
          value.integer = item.config.type;
          break;
        case 2:
          state_->Current(item, now, &value, &stamp);
          break;
        case 3:
          value.vt = opc::VT_I2;
          value.integer = 0xC0;
          break;
        case 4: {
          opc::Variant unused;
          state_->Current(item, now, &unused, &stamp);
          value.vt = opc::VT_DATE;
          // FILETIME to OLE date: days since 1899-12-30.
          value.real =
              (static_cast<double>(stamp) - 94353120000000000.0) / (86400.0 * kFileTimeSecond);
          break;
        }
        case 5:
          value.vt = opc::VT_I4;
          value.integer = item.config.readOnly ? 1 : 3;
          break;
        case 6:
          value.vt = opc::VT_R4;
          value.real = 1000.0;
          break;
        default:
          (*errors)[i] = static_cast<opc::Result>(0xC0040203);
          anyFailed = true;
          break;  // OPC_E_INVALID_PID
      }
    }
    return anyFailed ? opc::kFalse : opc::kOk;
  }

 private:
  bool IsBranch(const std::string& path) const {
    std::string prefix = path + ".";
    for (const ItemRuntime& item : state_->items) {
      if (item.config.itemId.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  std::shared_ptr<ServerState> state_;
};

class SimServerList : public opc::OpcServerList {
 public:
  SimServerList(SimEnvironment environment, SimConfig config)
      : config_(std::move(config)), gate_(std::move(environment), config_.fault) {}

  opc::Result EnumClassesOfCategories(const std::vector<opc::ClassId>& implemented,
                                      const std::vector<opc::ClassId>&,
                                      std::vector<opc::ClassId>* classes) override {
    if (opc::Result refused = gate_.Admit(Fault::kEnum)) return refused;
    classes->clear();
    bool daCategory = false;
    for (const auto& id : implemented) daCategory = daCategory || id == opc::kCatidOpcDaServer20;
    if (!daCategory) return opc::kOk;
    for (const auto& other : config_.others)
      classes->push_back(ClassIdForProgId(config_, other.progId));
    classes->push_back(kSimServerClassId);
    return opc::kOk;
  }

  opc::Result GetClassDetails(const opc::ClassId& classId, std::u16string* progId,
                              std::u16string* userType) override {
    if (opc::Result refused = gate_.Admit()) return refused;
    if (classId == kSimServerClassId) {
      *progId = Utf8ToUtf16(config_.progId);
      *userType = Utf8ToUtf16(config_.name);
      return opc::kOk;
    }
    for (const auto& other : config_.others) {
      if (ClassIdForProgId(config_, other.progId) == classId) {
        *progId = Utf8ToUtf16(other.progId);
        *userType = Utf8ToUtf16(other.name);
        return opc::kOk;
      }
    }
    return opc::kClassNotRegistered;
  }

  opc::Result CLSIDFromProgID(const std::u16string& progId, opc::ClassId* classId) override {
    if (opc::Result refused = gate_.Admit()) return refused;
    std::string text = Utf16ToUtf8(progId);
    // A listed ProgID finds its own class; otherwise ProgIDs are looked up
    // without regard to case, as the registry does. Two listed ProgIDs that
    // differ only in case thus keep their two classes.
    std::vector<std::string> listed;
    for (const auto& other : config_.others) listed.push_back(other.progId);
    listed.push_back(config_.progId);
    for (const std::string& candidate : listed) {
      if (candidate == text) {
        *classId = ClassIdForProgId(config_, candidate);
        return opc::kOk;
      }
    }
    // The simulation server itself first, then the others in their order.
    std::rotate(listed.begin(), listed.end() - 1, listed.end());
    for (const std::string& candidate : listed) {
      if (EqualsIgnoringAsciiCase(candidate, text)) {
        *classId = ClassIdForProgId(config_, candidate);
        return opc::kOk;
      }
    }
    return static_cast<opc::Result>(0x800401F3);  // CO_E_CLASSSTRING
  }

 private:
  const SimConfig config_;
  CallGate gate_;
};

}  // namespace

opc::Result CreateSimServerList(const SimEnvironment& environment,
                                std::shared_ptr<opc::OpcServerList>* serverList) {
  if (DownMarkerExists(environment)) return opc::kServerExecFailure;
  SimConfig config = LoadConfig(environment);
  if (config.fault == Fault::kList) return FaultResult(Fault::kList);
  *serverList = std::make_shared<SimServerList>(environment, config);
  return opc::kOk;
}

opc::Result CreateSimServer(const SimEnvironment& environment, const opc::ClassId& classId,
                            std::shared_ptr<opc::OpcObject>* server) {
  if (DownMarkerExists(environment)) return opc::kServerExecFailure;
  if (classId != kSimServerClassId) return opc::kClassNotRegistered;
  auto state = std::make_shared<ServerState>(environment, LoadConfig(environment));
  if (state->config.fault == Fault::kCreate) return FaultResult(Fault::kCreate);
  state->created = state->Now();
  for (const ItemConfig& config : state->config.items) {
    state->items.push_back(NewItemRuntime(config, state->created));
  }
  *server = std::make_shared<SimServer>(state);
  return opc::kOk;
}

}  // namespace sim
