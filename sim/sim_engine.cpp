#include "sim/sim_engine.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/utf.h"

namespace sim {

const opc::ClassId kSimServerClassId = opc::ClassIdFromText("7A1C0E52-3B6D-4F0A-9E21-54A0C7D1B301");

namespace {

constexpr opc::Result kServerExecFailure = opc::kServerExecFailure;
constexpr uint64_t kSecond = 10000000ULL;  // FILETIME units per second

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string Lower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

// Removes an inline comment: a ";" at the start or after a blank or tab.
std::string StripComment(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

bool ParseNumber(const std::string& text, double* value) {
  std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  char* end = nullptr;
  double parsed = std::strtod(trimmed.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

bool FileExists(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return file.good();
}

bool ReadFileText(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return (last == '/' || last == '\\') ? folder + name : folder + "/" + name;
}

bool IsIntegerType(uint16_t type) {
  switch (type) {
    case opc::VT_I1:
    case opc::VT_I2:
    case opc::VT_I4:
    case opc::VT_I8:
    case opc::VT_UI1:
    case opc::VT_UI2:
    case opc::VT_UI4:
    case opc::VT_UI8:
    case opc::VT_INT:
    case opc::VT_UINT:
    case opc::VT_ERROR:
      return true;
    default:
      return false;
  }
}

bool IntegerRange(uint16_t type, double* low, double* high) {
  switch (type) {
    case opc::VT_I1:
      *low = -128;
      *high = 127;
      return true;
    case opc::VT_UI1:
      *low = 0;
      *high = 255;
      return true;
    case opc::VT_I2:
      *low = -32768;
      *high = 32767;
      return true;
    case opc::VT_UI2:
      *low = 0;
      *high = 65535;
      return true;
    case opc::VT_I4:
    case opc::VT_INT:
      *low = -2147483648.0;
      *high = 2147483647.0;
      return true;
    case opc::VT_UI4:
    case opc::VT_UINT:
      *low = 0;
      *high = 4294967295.0;
      return true;
    case opc::VT_I8:
      *low = -9223372036854775808.0;
      *high = 9223372036854775807.0;
      return true;
    case opc::VT_UI8:
      *low = 0;
      *high = 18446744073709551615.0;
      return true;
    default:
      return false;
  }
}

// The numeric value of a variant; false for texts that are no number and for
// types without one.
bool NumericValue(const opc::Variant& from, double* value) {
  if (IsIntegerType(from.vt)) {
    *value = from.vt == opc::VT_UI8 ? static_cast<double>(static_cast<uint64_t>(from.integer))
                                    : static_cast<double>(from.integer);
    return true;
  }
  switch (from.vt) {
    case opc::VT_EMPTY:
      *value = 0;
      return true;
    case opc::VT_BOOL:
      *value = from.integer != 0 ? -1 : 0;
      return true;
    case opc::VT_CY:
      *value = static_cast<double>(from.integer) / 10000.0;
      return true;
    case opc::VT_R4:
    case opc::VT_R8:
    case opc::VT_DATE:
      *value = from.real;
      return true;
    case opc::VT_BSTR:
      return ParseNumber(Utf16ToUtf8(from.text), value);
    default:
      return false;
  }
}

std::string NumberText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

}  // namespace

Fault FaultFromText(const std::string& text) {
  static const std::map<std::string, Fault> kFaults = {
      {"list", Fault::kList},         {"enum", Fault::kEnum},
      {"create", Fault::kCreate},     {"noserver", Fault::kNoServer},
      {"addgroup", Fault::kAddGroup}, {"noitemmgt", Fault::kNoItemMgt},
      {"additems", Fault::kAddItems}, {"nosyncio", Fault::kNoSyncIO},
      {"read", Fault::kRead},         {"write", Fault::kWrite},
      {"nobrowse", Fault::kNoBrowse}};
  auto found = kFaults.find(Lower(Trim(text)));
  return found == kFaults.end() ? Fault::kNone : found->second;
}

uint16_t TypeFromName(const std::string& name) {
  static const std::map<std::string, uint16_t> kTypes = {
      {"VT_I1", opc::VT_I1},     {"VT_I2", opc::VT_I2},     {"VT_I4", opc::VT_I4},
      {"VT_I8", opc::VT_I8},     {"VT_UI1", opc::VT_UI1},   {"VT_UI2", opc::VT_UI2},
      {"VT_UI4", opc::VT_UI4},   {"VT_UI8", opc::VT_UI8},   {"VT_INT", opc::VT_INT},
      {"VT_UINT", opc::VT_UINT}, {"VT_R4", opc::VT_R4},     {"VT_R8", opc::VT_R8},
      {"VT_CY", opc::VT_CY},     {"VT_BOOL", opc::VT_BOOL}, {"VT_BSTR", opc::VT_BSTR},
      {"VT_DATE", opc::VT_DATE}};
  auto found = kTypes.find(Trim(name));
  return found == kTypes.end() ? static_cast<uint16_t>(opc::VT_EMPTY) : found->second;
}

SimConfig ParseSimConfig(const std::string& text) {
  SimConfig config;
  std::string section;
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    std::string line = Trim(StripComment(raw));
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Lower(Trim(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trim(line.substr(0, equals));
    std::string value = Trim(line.substr(equals + 1));
    if (section == "server") {
      std::string name = Lower(key);
      if (name == "progid" && !value.empty()) config.progId = value;
      if (name == "name") config.name = value;
      if (name == "fail") config.fault = FaultFromText(value);
      if (name == "delay")
        config.delayMilliseconds = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      if (name == "others") {
        std::istringstream entries(value);
        std::string entry;
        while (std::getline(entries, entry, ';')) {
          entry = Trim(entry);
          if (entry.empty()) continue;
          size_t bar = entry.find('|');
          ListedServer server;
          server.progId = Trim(entry.substr(0, bar));
          if (bar != std::string::npos) server.name = Trim(entry.substr(bar + 1));
          if (!server.progId.empty()) config.others.push_back(server);
        }
      }
    } else if (section == "items" && !key.empty()) {
      ItemConfig item;
      item.itemId = key;
      size_t comma = value.find(',');
      item.type = TypeFromName(value.substr(0, comma));
      if (item.type == opc::VT_EMPTY) continue;
      std::string rest = comma == std::string::npos ? "" : value.substr(comma + 1);
      size_t next = rest.find(',');
      std::string behaviour = Lower(Trim(rest.substr(0, next)));
      std::string arguments = next == std::string::npos ? "" : rest.substr(next + 1);
      if (behaviour.size() > 3 && behaviour.compare(behaviour.size() - 3, 3, "-ro") == 0) {
        item.readOnly = true;
        behaviour.resize(behaviour.size() - 3);
      }
      if (behaviour == "static") {
        item.behaviour = Behaviour::kStatic;
        item.staticText = item.type == opc::VT_BSTR ? arguments : Trim(arguments);
      } else if (behaviour == "ramp" || behaviour == "random" || behaviour == "sine" ||
                 behaviour == "toggle") {
        item.behaviour = behaviour == "ramp"     ? Behaviour::kRamp
                         : behaviour == "random" ? Behaviour::kRandom
                         : behaviour == "sine"   ? Behaviour::kSine
                                                 : Behaviour::kToggle;
        std::istringstream numbers(arguments);
        std::string number;
        while (std::getline(numbers, number, ',')) {
          double parsed = 0;
          if (ParseNumber(number, &parsed)) item.numbers.push_back(parsed);
        }
        size_t needed = item.behaviour == Behaviour::kRamp     ? 3
                        : item.behaviour == Behaviour::kToggle ? 0
                                                               : 2;
        if (item.numbers.size() < needed) continue;
        if (item.behaviour == Behaviour::kRamp &&
            (item.numbers[2] <= 0 || item.numbers[1] < item.numbers[0]))
          continue;
        if (item.behaviour == Behaviour::kSine && item.numbers[1] <= 0) continue;
      } else {
        continue;
      }
      config.items.push_back(item);
    }
  }
  return config;
}

opc::ClassId ClassIdForProgId(const SimConfig& config, const std::string& progId) {
  if (progId == config.progId) return kSimServerClassId;
  // FNV-1a over the ProgID spread over 16 bytes: stable across runs and hosts.
  opc::ClassId id{};
  uint64_t hash = 1469598103934665603ULL;
  for (int round = 0; round < 2; ++round) {
    for (char ch : progId) {
      hash ^= static_cast<uint8_t>(ch);
      hash *= 1099511628211ULL;
    }
    for (int i = 0; i < 8; ++i) id[round * 8 + i] = static_cast<uint8_t>(hash >> (8 * i));
    hash ^= 0x5A;
  }
  return id;
}

uint64_t SystemFileTimeNow() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  int64_t units = std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
  return static_cast<uint64_t>(units) + 116444736000000000ULL;
}

bool ChangeVariantType(const opc::Variant& from, uint16_t type, opc::Variant* to) {
  opc::Variant result;
  result.vt = type;
  if (type == opc::VT_BSTR) {
    if (from.vt == opc::VT_BSTR) {
      result.text = from.text;
    } else if (from.vt == opc::VT_BOOL) {
      result.text = from.integer != 0 ? u"True" : u"False";
    } else if (from.vt == opc::VT_EMPTY) {
      result.text.clear();
    } else {
      double value = 0;
      if (!NumericValue(from, &value)) return false;
      result.text = Utf8ToUtf16(NumberText(value));
    }
    *to = result;
    return true;
  }
  if (type == opc::VT_BOOL) {
    if (from.vt == opc::VT_BSTR) {
      std::string text = Lower(Trim(Utf16ToUtf8(from.text)));
      if (text == "true") {
        result.integer = -1;
      } else if (text == "false") {
        result.integer = 0;
      } else {
        double value = 0;
        if (!ParseNumber(text, &value)) return false;
        result.integer = value != 0 ? -1 : 0;
      }
    } else {
      double value = 0;
      if (!NumericValue(from, &value)) return false;
      result.integer = value != 0 ? -1 : 0;
    }
    *to = result;
    return true;
  }
  double value = 0;
  if (!NumericValue(from, &value)) return false;
  if (type == opc::VT_R4) {
    if (std::fabs(value) > 3.402823466e38) return false;
    result.real = static_cast<double>(static_cast<float>(value));
  } else if (type == opc::VT_R8 || type == opc::VT_DATE) {
    result.real = value;
  } else if (type == opc::VT_CY) {
    double scaled = std::nearbyint(value * 10000.0);
    if (std::fabs(scaled) >= 9.2e18) return false;
    result.integer = static_cast<int64_t>(scaled);
  } else {
    double low = 0, high = 0;
    if (!IntegerRange(type, &low, &high)) return false;
    double rounded = std::nearbyint(value);  // round half to even, as the COM conversion does
    if (rounded < low || rounded > high) return false;
    if (type == opc::VT_UI8) {
      result.integer = static_cast<int64_t>(static_cast<uint64_t>(rounded));
    } else {
      result.integer = static_cast<int64_t>(rounded);
    }
  }
  *to = result;
  return true;
}

namespace {

struct ItemRuntime {
  ItemConfig config;
  opc::Variant value;    // static value, or the last written value
  uint64_t changed = 0;  // FILETIME of the static value or the last write
  bool written = false;
};

// The state of one server object: its items, handles and browse position.
struct ServerState {
  SimEnvironment environment;
  SimConfig config;
  uint64_t created = 0;
  std::mutex lock;  // guards everything below
  std::vector<ItemRuntime> items;
  std::map<uint32_t, size_t> itemByHandle;
  uint32_t nextHandle = 1;
  std::string browsePosition;

  uint64_t Now() const { return environment.now ? environment.now() : SystemFileTimeNow(); }
  bool Down() const { return FileExists(JoinPath(environment.folder, "simulation.down")); }

  int FindItem(const std::string& id) const {
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i].config.itemId == id) return static_cast<int>(i);
    }
    return -1;
  }

  // The item's present value and its time stamp. Caller holds lock.
  void Current(const ItemRuntime& item, uint64_t now, opc::Variant* value, uint64_t* stamp) const {
    const ItemConfig& config = item.config;
    if (config.behaviour == Behaviour::kStatic) {
      *value = item.value;
      *stamp = item.changed;
      return;
    }
    uint64_t elapsed = now > created ? now - created : 0;
    uint64_t ticks = elapsed / kSecond;
    uint64_t tickTime = created + ticks * kSecond;
    // A write holds until the behaviour's next change.
    if (item.written && item.changed >= tickTime && config.behaviour != Behaviour::kSine) {
      *value = item.value;
      *stamp = item.changed;
      return;
    }
    opc::Variant generated;
    generated.vt = opc::VT_R8;
    *stamp = tickTime;
    switch (config.behaviour) {
      case Behaviour::kRamp: {
        double low = config.numbers[0], high = config.numbers[1], step = config.numbers[2];
        uint64_t steps = static_cast<uint64_t>(std::floor((high - low) / step)) + 1;
        generated.real = low + step * static_cast<double>(ticks % steps);
        break;
      }
      case Behaviour::kRandom: {
        uint64_t mix =
            (ticks + 1) * 6364136223846793005ULL + std::hash<std::string>()(config.itemId);
        mix ^= mix >> 29;
        mix *= 0xBF58476D1CE4E5B9ULL;
        mix ^= mix >> 32;
        double unit = static_cast<double>(mix % 1000001ULL) / 1000000.0;
        generated.real = config.numbers[0] + (config.numbers[1] - config.numbers[0]) * unit;
        break;
      }
      case Behaviour::kSine: {
        double seconds = static_cast<double>(elapsed) / kSecond;
        generated.real =
            config.numbers[0] * std::sin(2 * 3.14159265358979323846 * seconds / config.numbers[1]);
        *stamp = now;
        break;
      }
      case Behaviour::kToggle:
        generated.vt = opc::VT_BOOL;
        generated.integer = ticks % 2 == 1 ? -1 : 0;
        break;
      case Behaviour::kStatic:
        break;
    }
    if (!ChangeVariantType(generated, config.type, value)) {
      value->vt = config.type;
      value->integer = 0;
      value->real = 0;
    }
  }

  void Delay() const {
    if (config.delayMilliseconds > 0) {
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

  opc::Result QueryServer(std::shared_ptr<opc::OpcServer>*) override { return opc::kNoInterface; }
  opc::Result QueryBrowse(std::shared_ptr<opc::OpcBrowseServerAddressSpace>*) override {
    return opc::kNoInterface;
  }
  opc::Result QueryProperties(std::shared_ptr<opc::OpcItemProperties>*) override {
    return opc::kNoInterface;
  }
  opc::Result QueryItemMgt(std::shared_ptr<opc::OpcItemMgt>* itemMgt) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kNoItemMgt) return opc::kNoInterface;
    *itemMgt = shared_from_this();
    return opc::kOk;
  }
  opc::Result QuerySyncIO(std::shared_ptr<opc::OpcSyncIO>* syncIO) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kNoSyncIO) return opc::kNoInterface;
    *syncIO = shared_from_this();
    return opc::kOk;
  }

  opc::Result AddItems(const std::vector<opc::ItemDefinition>& definitions,
                       std::vector<opc::ItemResult>* results,
                       std::vector<opc::Result>* errors) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kAddItems) return opc::kFail;
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
      const ItemRuntime& item = state_->items[index];
      (*results)[i].serverHandle = handle;
      (*results)[i].canonicalDataType = item.config.type;
      (*results)[i].accessRights = item.config.readOnly ? 1 : 3;
    }
    return anyFailed ? opc::kFalse : opc::kOk;
  }

  opc::Result Read(uint32_t source, const std::vector<uint32_t>& handles,
                   std::vector<opc::ItemState>* states, std::vector<opc::Result>* errors) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kRead) return opc::kFail;
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
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kWrite) return opc::kFail;
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
};

class SimServer : public opc::OpcObject,
                  public opc::OpcServer,
                  public opc::OpcBrowseServerAddressSpace,
                  public opc::OpcItemProperties,
                  public std::enable_shared_from_this<SimServer> {
 public:
  explicit SimServer(std::shared_ptr<ServerState> state) : state_(std::move(state)) {}

  opc::Result QueryServer(std::shared_ptr<opc::OpcServer>* server) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kNoServer) return opc::kNoInterface;
    *server = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryBrowse(std::shared_ptr<opc::OpcBrowseServerAddressSpace>* browse) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kNoBrowse) return opc::kNoInterface;
    *browse = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryProperties(std::shared_ptr<opc::OpcItemProperties>* properties) override {
    if (state_->Down()) return opc::kServerUnavailable;
    *properties = shared_from_this();
    return opc::kOk;
  }
  opc::Result QueryItemMgt(std::shared_ptr<opc::OpcItemMgt>*) override { return opc::kNoInterface; }
  opc::Result QuerySyncIO(std::shared_ptr<opc::OpcSyncIO>*) override { return opc::kNoInterface; }

  opc::Result AddGroup(const std::u16string&, bool, uint32_t, uint32_t, int32_t, float, uint32_t,
                       std::shared_ptr<opc::OpcObject>* group) override {
    if (state_->Down()) return opc::kServerUnavailable;
    if (state_->config.fault == Fault::kAddGroup) return opc::kFail;
    *group = std::make_shared<SimGroup>(state_);
    return opc::kOk;
  }

  opc::Result ChangeBrowsePosition(uint32_t direction, const std::u16string& position) override {
    if (state_->Down()) return opc::kServerUnavailable;
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
    if (state_->Down()) return opc::kServerUnavailable;
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
    if (state_->Down()) return opc::kServerUnavailable;
    std::lock_guard<std::mutex> hold(state_->lock);
    const std::string& current = state_->browsePosition;
    *itemId = current.empty() ? itemDataId : Utf8ToUtf16(current + ".") + itemDataId;
    return opc::kOk;
  }

  opc::Result QueryAvailableProperties(const std::u16string& itemId, std::vector<uint32_t>* ids,
                                       std::vector<std::u16string>* descriptions,
                                       std::vector<uint16_t>* dataTypes) override {
    if (state_->Down()) return opc::kServerUnavailable;
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
    if (state_->Down()) return opc::kServerUnavailable;
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
          value.real = (static_cast<double>(stamp) - 94353120000000000.0) / (86400.0 * kSecond);
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
      : environment_(std::move(environment)), config_(std::move(config)) {}

  opc::Result EnumClassesOfCategories(const std::vector<opc::ClassId>& implemented,
                                      const std::vector<opc::ClassId>&,
                                      std::vector<opc::ClassId>* classes) override {
    if (Down()) return opc::kServerUnavailable;
    if (config_.fault == Fault::kEnum) return opc::kFail;
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
    if (Down()) return opc::kServerUnavailable;
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
    if (Down()) return opc::kServerUnavailable;
    std::string text = Utf16ToUtf8(progId);
    // ProgIDs are looked up without regard to case, as the registry does.
    if (Lower(text) == Lower(config_.progId)) {
      *classId = kSimServerClassId;
      return opc::kOk;
    }
    for (const auto& other : config_.others) {
      if (Lower(other.progId) == Lower(text)) {
        *classId = ClassIdForProgId(config_, other.progId);
        return opc::kOk;
      }
    }
    return static_cast<opc::Result>(0x800401F3);  // CO_E_CLASSSTRING
  }

 private:
  bool Down() const { return FileExists(JoinPath(environment_.folder, "simulation.down")); }
  SimEnvironment environment_;
  SimConfig config_;
};

SimConfig LoadConfig(const SimEnvironment& environment) {
  std::string text;
  if (!ReadFileText(JoinPath(environment.folder, "simulation.ini"), &text)) return SimConfig{};
  return ParseSimConfig(text);
}

}  // namespace

opc::Result CreateSimServerList(const SimEnvironment& environment,
                                std::shared_ptr<opc::OpcServerList>* serverList) {
  if (FileExists(JoinPath(environment.folder, "simulation.down"))) return kServerExecFailure;
  SimConfig config = LoadConfig(environment);
  if (config.fault == Fault::kList) return opc::kClassNotRegistered;
  *serverList = std::make_shared<SimServerList>(environment, config);
  return opc::kOk;
}

opc::Result CreateSimServer(const SimEnvironment& environment, const opc::ClassId& classId,
                            std::shared_ptr<opc::OpcObject>* server) {
  if (FileExists(JoinPath(environment.folder, "simulation.down"))) return kServerExecFailure;
  if (classId != kSimServerClassId) return opc::kClassNotRegistered;
  auto state = std::make_shared<ServerState>();
  state->environment = environment;
  state->config = LoadConfig(environment);
  if (state->config.fault == Fault::kCreate) return kServerExecFailure;
  state->created = state->Now();
  for (const ItemConfig& config : state->config.items) {
    ItemRuntime item;
    item.config = config;
    item.changed = state->created;
    if (config.behaviour == Behaviour::kStatic) {
      opc::Variant text;
      text.vt = opc::VT_BSTR;
      text.text = Utf8ToUtf16(config.staticText);
      if (!ChangeVariantType(text, config.type, &item.value)) {
        item.value = opc::Variant{};
        item.value.vt = config.type;
      }
    }
    state->items.push_back(item);
  }
  *server = std::make_shared<SimServer>(state);
  return opc::kOk;
}

}  // namespace sim
