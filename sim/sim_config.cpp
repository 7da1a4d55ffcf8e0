#include "sim/sim_config.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include "common/text.h"
#include "sim/sim_values.h"

namespace sim {

const opc::ClassId kSimServerClassId = opc::ClassIdFromText("7A1C0E52-3B6D-4F0A-9E21-54A0C7D1B301");

namespace {

// Every fault switch: its name in the "fail=" setting and what the failing
// step answers. A new switch is one enumerator and one row here.
struct FaultRow {
  const char* name;
  Fault fault;
  opc::Result result;
};

const FaultRow kFaultRows[] = {
    {"list", Fault::kList, opc::kClassNotRegistered},
    {"enum", Fault::kEnum, opc::kFail},
    {"create", Fault::kCreate, opc::kServerExecFailure},
    {"noserver", Fault::kNoServer, opc::kNoInterface},
    {"addgroup", Fault::kAddGroup, opc::kFail},
    {"noitemmgt", Fault::kNoItemMgt, opc::kNoInterface},
    {"additems", Fault::kAddItems, opc::kFail},
    {"removeitems", Fault::kRemoveItems, opc::kFail},
    {"nosyncio", Fault::kNoSyncIO, opc::kNoInterface},
    {"read", Fault::kRead, opc::kFail},
    {"write", Fault::kWrite, opc::kFail},
    {"nobrowse", Fault::kNoBrowse, opc::kNoInterface},
    {"register", Fault::kRegister, opc::kServerExecFailure},
};

// Removes an inline comment: a ";" at the start or after a blank or tab.
std::string StripComment(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

void ParseServerKey(const std::string& key, const std::string& value, SimConfig* config) {
  std::string name = AsciiLower(key);
  if (name == "progid" && !value.empty()) config->progId = value;
  if (name == "name") config->name = value;
  if (name == "fail") config->fault = FaultFromText(value);
  if (name == "counts") config->writeCounts = value == "1";
  if (name == "delay")
    config->delayMilliseconds = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
  if (name == "delayafter")
    config->delayAfter = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
  if (name == "others") {
    std::istringstream entries(value);
    std::string entry;
    while (std::getline(entries, entry, ';')) {
      entry = TrimBlanks(entry);
      if (entry.empty()) continue;
      size_t bar = entry.find('|');
      ListedServer server;
      server.progId = TrimBlanks(entry.substr(0, bar));
      if (bar != std::string::npos) server.name = TrimBlanks(entry.substr(bar + 1));
      if (!server.progId.empty()) config->others.push_back(server);
    }
  }
}

// One line of [items]: "id=type,behaviour[,arguments]". False when the line
// makes no sense (unknown type or behaviour, missing or bad numbers).
bool ParseItemLine(const std::string& key, const std::string& value, ItemConfig* item) {
  item->itemId = key;
  size_t comma = value.find(',');
  item->type = TypeFromName(value.substr(0, comma));
  if (item->type == opc::VT_EMPTY) return false;
  std::string rest = comma == std::string::npos ? "" : value.substr(comma + 1);
  size_t next = rest.find(',');
  std::string behaviour = AsciiLower(TrimBlanks(rest.substr(0, next)));
  std::string arguments = next == std::string::npos ? "" : rest.substr(next + 1);
  if (behaviour.size() > 3 && behaviour.compare(behaviour.size() - 3, 3, "-ro") == 0) {
    item->readOnly = true;
    behaviour.resize(behaviour.size() - 3);
  }
  if (behaviour == "static") {
    item->behaviour = Behaviour::kStatic;
    item->staticText = item->type == opc::VT_BSTR ? arguments : TrimBlanks(arguments);
    return true;
  }
  if (behaviour != "ramp" && behaviour != "random" && behaviour != "sine" &&
      behaviour != "toggle") {
    return false;
  }
  item->behaviour = behaviour == "ramp"     ? Behaviour::kRamp
                    : behaviour == "random" ? Behaviour::kRandom
                    : behaviour == "sine"   ? Behaviour::kSine
                                            : Behaviour::kToggle;
  std::istringstream numbers(arguments);
  std::string number;
  while (std::getline(numbers, number, ',')) {
    double parsed = 0;
    if (ParseNumber(number, &parsed)) item->numbers.push_back(parsed);
  }
  size_t needed = item->behaviour == Behaviour::kRamp     ? 3
                  : item->behaviour == Behaviour::kToggle ? 0
                                                          : 2;
  if (item->numbers.size() < needed) return false;
  if (item->behaviour == Behaviour::kRamp &&
      (item->numbers[2] <= 0 || item->numbers[1] < item->numbers[0]))
    return false;
  if (item->behaviour == Behaviour::kSine && item->numbers[1] <= 0) return false;
  return true;
}

}  // namespace

Fault FaultFromText(const std::string& text) {
  std::string name = AsciiLower(TrimBlanks(text));
  for (const FaultRow& row : kFaultRows) {
    if (name == row.name) return row.fault;
  }
  return Fault::kNone;
}

opc::Result FaultResult(Fault fault) {
  for (const FaultRow& row : kFaultRows) {
    if (row.fault == fault) return row.result;
  }
  return opc::kOk;
}

uint16_t TypeFromName(const std::string& name) {
  static const std::map<std::string, uint16_t> kTypes = {
      {"VT_I1", opc::VT_I1},     {"VT_I2", opc::VT_I2},     {"VT_I4", opc::VT_I4},
      {"VT_I8", opc::VT_I8},     {"VT_UI1", opc::VT_UI1},   {"VT_UI2", opc::VT_UI2},
      {"VT_UI4", opc::VT_UI4},   {"VT_UI8", opc::VT_UI8},   {"VT_INT", opc::VT_INT},
      {"VT_UINT", opc::VT_UINT}, {"VT_R4", opc::VT_R4},     {"VT_R8", opc::VT_R8},
      {"VT_CY", opc::VT_CY},     {"VT_BOOL", opc::VT_BOOL}, {"VT_BSTR", opc::VT_BSTR},
      {"VT_DATE", opc::VT_DATE}};
  auto found = kTypes.find(TrimBlanks(name));
  return found == kTypes.end() ? static_cast<uint16_t>(opc::VT_EMPTY) : found->second;
}

SimConfig ParseSimConfig(const std::string& text) {
  SimConfig config;
  std::string section;
  std::istringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    std::string line = TrimBlanks(StripComment(raw));
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = AsciiLower(TrimBlanks(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = TrimBlanks(line.substr(0, equals));
    std::string value = TrimBlanks(line.substr(equals + 1));
    if (section == "server") {
      ParseServerKey(key, value, &config);
    } else if (section == "items" && !key.empty()) {
      ItemConfig item;
      if (ParseItemLine(key, value, &item)) config.items.push_back(item);
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

}  // namespace sim
