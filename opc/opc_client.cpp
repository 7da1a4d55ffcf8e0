#include "opc/opc_client.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/console_output.h"
#include "app/settings.h"
#include "common/process_paths.h"
#include "opc/opc_session.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/message_box.h"

opc::ClassId serverClassId{};
TextList browsedItems;

namespace {

// The digest of all leaf names of the last browse that led to a copy.
std::string lastItemsDigest;
DigestFunctions itemsDigest;  // MD5 entry points of the item store refresh

// Supervisor state; touched by the supervisor thread only.
int32_t superviseTicks = 1;
int64_t tagsFileTime = 0;
bool superviseBusy = false;
bool tagsMissingReported = false;

std::u16string Wide(const std::string& text) { return platform::AnsiToUtf16(text); }
std::string Narrow(const std::u16string& text) { return platform::Utf16ToAnsi(text); }

// Case folding for ProgID comparison: ASCII and Latin-1 letters on UTF-16
// code units, so multibyte texts compare as characters, not bytes.
std::u16string Folded(std::u16string text) {
  for (char16_t& ch : text) {
    if ((ch >= u'A' && ch <= u'Z') || (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)) ch += 32;
  }
  return text;
}

opc::CreationTarget Target(const std::string& domain, const std::string& host,
                           const std::string& user, const std::string& pass, bool remote) {
  opc::CreationTarget target;
  target.remote = remote;
  if (remote) {
    target.host = Wide(host);
    target.user = Wide(user);
    target.domain = Wide(domain);
    target.password = Wide(pass);
  }
  return target;
}

// Map look-ups that yield 0 for an absent id without inserting it: made-up
// tag names in API requests must not grow the maps for the life of the process.
uint32_t HandleOf(const std::string& id) {
  auto found = opcSession->handleByItemId.find(id);
  return found == opcSession->handleByItemId.end() ? 0 : found->second;
}
int32_t TypeOf(const std::string& id) {
  auto found = opcSession->typeByItemId.find(id);
  return found == opcSession->typeByItemId.end() ? 0 : found->second;
}

const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// "%A,%B%d,%Y" of an OLE date's calendar day; empty outside the years 100 to
// 9999 that the OLE date conversion accepts.
std::string OleDateText(double date) {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return "";
  int64_t days = static_cast<int64_t>(date);  // truncated toward zero
  // 1899-12-30 is day 0; convert to days since 1970-01-01 (civil algorithm).
  int64_t z = days - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  int64_t weekday = ((days - 25569) % 7 + 7 + 4) % 7;  // 1970-01-01 was a Thursday
  return FormatText("%s,%s%02d,%d", kDayNames[weekday], kMonthNames[month - 1],
                    static_cast<int>(day), static_cast<int>(year));
}

bool IsBlank(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

// The leading decimal integer: blanks, a sign, digits; saturates at 32 bits.
int32_t LeadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<int32_t>(value);
}

// The leading decimal floating-point number; 0 when there is none.
double LeadingReal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t mark = i++;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exponentDigits;
    if (exponentDigits == 0) i = mark;
  }
  return std::strtod(text.substr(start, i - start).c_str(), nullptr);
}

std::string Lower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

std::string TagsFilePath() { return DataFilePath("tags.txt"); }

std::shared_ptr<opc::OpcObject> ServerUnknown() {
  if (!opcSession->opcServer) return nullptr;
  return opcSession->serverUnknown;
}

}  // namespace

std::string ItemId(const std::string& group, const std::string& item, const std::string& tag) {
  return group + "." + item + "." + tag;
}

std::string ComErrorText(int32_t code) {
  std::string text;
  if (opcSession != nullptr && opcSession->connector != nullptr) {
    text = opcSession->connector->SystemMessageText(code);
  }
  if (!text.empty()) {
    if (text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
  }
  uint32_t bits = static_cast<uint32_t>(code);
  uint32_t low = bits & 0xFFFF;
  if ((bits & 0x80000000u) && ((bits >> 16) & 0x1FFF) == 4 && low >= 0x201) {
    return FormatText("IDispatch error #%d", static_cast<int>(low - 0x200));
  }
  return FormatText("Unknown error 0x%0lX", static_cast<unsigned long>(bits));
}

int32_t DiscoverServer(const std::string& domain, const std::string& host, const std::string& user,
                       const std::string& pass, const std::string& progid, bool remote,
                       opc::ClassId* classId) {
  std::shared_ptr<opc::OpcServerList> serverList;
  opc::Result result = opcSession->connector->CreateServerList(
      Target(domain, host, user, pass, remote), &serverList);
  if (opc::Failed(result) || !serverList) {
    if (!opc::Failed(result)) result = opc::kNoInterface;
    PrintText("Error:" + ComErrorText(result));
    return remote ? 2 : 4;
  }
  std::vector<opc::ClassId> classes;
  result = serverList->EnumClassesOfCategories({opc::kCatidOpcDaServer20},
                                               {opc::kCatidOpcDaServer20}, &classes);
  if (result != opc::kOk) {
    PrintText("Error:" + ComErrorText(result));
    return 6;
  }
  PrintText("\nOpc server found:");
  int n = 1;
  int match = 0;
  const std::u16string wanted = Folded(Wide(progid));
  for (const opc::ClassId& id : classes) {
    std::u16string progId, userType;
    serverList->GetClassDetails(id, &progId, &userType);
    PrintText(
        FormatText("\n%d: ProgID = %s (%s)", n, Narrow(progId).c_str(), Narrow(userType).c_str()));
    if (Folded(Wide(Narrow(progId))) == wanted) {
      serverList->CLSIDFromProgID(progId, classId);
      match = n;
    }
    ++n;
  }
  return match > 0 ? 0 : 8;
}

int32_t ConnectServer(const std::string& domain, const std::string& host, const std::string& user,
                      const std::string& pass, opc::ClassId classId, bool remote) {
  PrintText("\nConnecting to opc server: " + (remote ? host : std::string("localhost")) + "...");
  std::shared_ptr<opc::OpcObject> server;
  opc::Result result = opcSession->connector->CreateServer(
      classId, Target(domain, host, user, pass, remote), &server);
  opcSession->serverObject = server;
  if (opc::Failed(result) || !opcSession->serverObject) {
    opcSession->serverObject.reset();
    return 32;
  }
  std::shared_ptr<opc::OpcServer> opcServer;
  if (opc::Failed(opcSession->serverObject->QueryServer(&opcServer)) || !opcServer) {
    opcSession->opcServer.reset();
    opcSession->serverObject.reset();
    return 64;
  }
  opcSession->opcServer = opcServer;
  opcSession->serverUnknown = opcSession->serverObject;
  opcSession->connected = 1;
  PrintText("\nSuccessfully connected to server!");
  return 0;
}

int32_t CreateGroup(const std::string& group) {
  PrintText("\nCommunicating to opc server...");
  std::shared_ptr<opc::OpcObject> groupObject;
  opc::Result result = opc::kPointer;
  if (opcSession->opcServer) {
    result = opcSession->opcServer->AddGroup(Wide(group), true, 10, 1235, 0, 0.0f, 0, &groupObject);
  }
  if (opc::Failed(result) || !groupObject) {
    opcSession->serverObject.reset();
    return 1;
  }
  opcSession->serverObject = groupObject;
  std::shared_ptr<opc::OpcItemMgt> itemMgt;
  if (opc::Failed(groupObject->QueryItemMgt(&itemMgt)) || !itemMgt) {
    opcSession->itemMgt.reset();
    opcSession->serverObject.reset();
    return 2;
  }
  opcSession->itemMgt = itemMgt;
  PrintText("\nSuccessfully communicated to server!");
  return 0;
}

int32_t TimeStampSeconds(uint64_t fileTime) {
  uint64_t seconds = (fileTime - 116444736000000000ULL) / 10000000ULL;
  return static_cast<int32_t>(static_cast<uint32_t>(seconds - 28800ULL));
}

std::string ValueRecord(const std::string& name, const std::string& value, int32_t t) {
  return "{\"i\":\"" + JsonEscape(name) + "\",\"v\":\"" + JsonEscape(value) +
         "\",\"t\":" + std::to_string(t) + "}";
}

std::string VariantToText(const opc::Variant& value) {
  switch (value.vt) {
    case opc::VT_I2:
    case opc::VT_BOOL:
      return std::to_string(static_cast<int16_t>(value.integer));
    case opc::VT_I4:
      return std::to_string(static_cast<int32_t>(value.integer));
    case opc::VT_R4:
      return FormatText("%f", static_cast<double>(static_cast<float>(value.real)));
    case opc::VT_R8:
      return FormatText("%f", value.real);
    case opc::VT_DATE:
      return OleDateText(value.real);
    case opc::VT_BSTR:
      return Narrow(value.text);
    case opc::VT_UI1:
      return std::to_string(static_cast<uint8_t>(value.integer));
    default:
      return "";
  }
}

opc::Variant TextToVariant(int32_t type, const std::string& text) {
  opc::Variant value;
  value.vt = static_cast<uint16_t>(type);
  switch (type) {
    case opc::VT_I2:
      value.integer = static_cast<int16_t>(LeadingInteger(text));
      break;
    case opc::VT_UI2:
      value.integer = static_cast<uint16_t>(LeadingInteger(text));
      break;
    case opc::VT_I4:
    case opc::VT_INT:
      value.integer = LeadingInteger(text);
      break;
    case opc::VT_UI4:
    case opc::VT_UINT:
      value.integer = static_cast<uint32_t>(LeadingInteger(text));
      break;
    case opc::VT_R4:
      value.real = static_cast<double>(static_cast<float>(LeadingReal(text)));
      break;
    case opc::VT_R8:
      value.real = LeadingReal(text);
      break;
    case opc::VT_BOOL: {
      std::string lower = Lower(text);
      value.integer = (lower == "true" || lower == "1") ? 1 : 0;
      break;
    }
    case opc::VT_I1:
      value.integer = text.empty() ? 0 : static_cast<int8_t>(text[0]);
      break;
    case opc::VT_UI1:
      value.integer = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
      break;
    case opc::VT_BSTR:
      value.text = Wide(text);
      break;
    default:
      value.vt = opc::VT_BSTR;
      value.text = Wide(text);
      break;
  }
  return value;
}

TextList TagLines(const std::string& content) {
  TextList lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start));
      break;
    }
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void BrowseLeafItems(const std::string& group, const std::string& item, TextList* list) {
  list->clear();
  opcSession->typeByItemId.clear();
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
  std::shared_ptr<opc::OpcItemProperties> properties;
  std::shared_ptr<opc::OpcObject> object = ServerUnknown();
  if (object) object->QueryBrowse(&browse);
  if (!browse) return;
  browse->ChangeBrowsePosition(opc::kBrowseTo, Wide(group + "." + item));
  std::vector<std::u16string> names;
  browse->BrowseOPCItemIDs(opc::kBrowseLeaf, u"", opc::VT_EMPTY, 0, &names);
  object->QueryProperties(&properties);
  for (const std::u16string& name : names) {
    list->push_back(Narrow(name));
    std::u16string itemId;
    if (opc::Failed(browse->GetItemID(name, &itemId)) || !properties) continue;
    std::vector<uint32_t> ids;
    std::vector<std::u16string> descriptions;
    std::vector<uint16_t> types;
    if (opc::Failed(properties->QueryAvailableProperties(itemId, &ids, &descriptions, &types))) {
      continue;
    }
    std::vector<opc::Variant> values;
    std::vector<opc::Result> errors;
    if (opc::Failed(properties->GetItemProperties(itemId, ids, &values, &errors)) ||
        values.empty()) {
      continue;
    }
    opcSession->typeByItemId[Narrow(itemId)] = static_cast<int32_t>(values[0].integer);
  }
  browse->ChangeBrowsePosition(opc::kBrowseTo, u"");
}

void RefreshTagsFile() {
  if (!agentSettings.autoitems || opcSession->connected != 1) return;
  BrowseLeafItems(agentSettings.group, agentSettings.item, &browsedItems);
  const std::string storePath = DataFilePath("items.db");
  platform::DeleteFileAt(storePath);
  std::string all;
  std::string kept;
  for (const std::string& name : browsedItems) {
    all += name;
    if (StartsWithAny(agentSettings.itemstartsList.size(), agentSettings.itemstartsList, name)) {
      kept += name + "\n";
    }
  }
  platform::WriteNewFileDurably(storePath, kept);
  std::string digest = Md5Hex(&itemsDigest, all);
  // Without a digest the change cannot be judged: copy, and remember nothing.
  if (digest.empty() || digest != lastItemsDigest) {
    lastItemsDigest = digest;
    platform::CopyFileReplacing(storePath, TagsFilePath());
  }
}

bool ReloadTags() {
  std::string content;
  if (!platform::PathExists(TagsFilePath()) || !platform::ReadWholeFile(TagsFilePath(), &content)) {
    return false;
  }
  opcSession->items.clear();
  AddItemSet(agentSettings.group, agentSettings.item, TagLines(content));
  return true;
}

void AddItemSet(const std::string& group, const std::string& item, TextList names) {
  if (names.empty()) {
    PrintErrorLine("\nNo item added", true);
    return;
  }
  PrintText("\nItems adding...!");
  opcSession->items.clear();
  std::vector<opc::ItemDefinition> definitions;
  for (size_t i = 0; i < names.size(); ++i) {
    OpcItem entry;
    entry.tagName = names[i];
    opcSession->items.push_back(entry);
    opc::ItemDefinition definition;
    definition.itemId = Wide(ItemId(group, item, names[i]));
    definition.active = true;
    definition.clientHandle = static_cast<uint32_t>(i);
    definition.requestedDataType = opc::VT_EMPTY;
    definitions.push_back(definition);
  }
  std::vector<opc::ItemResult> results;
  std::vector<opc::Result> errors;
  if (!opcSession->itemMgt ||
      opc::Failed(opcSession->itemMgt->AddItems(definitions, &results, &errors))) {
    PrintErrorLine("\nAdd item error", true);
    return;
  }
  std::shared_ptr<opc::OpcSyncIO> syncIO;
  if (opc::Failed(opcSession->itemMgt->QuerySyncIO(&syncIO)) || !syncIO) {
    PrintErrorLine("\nAdd item query error", true);
  } else {
    opcSession->syncIO = syncIO;
  }
  int successes = 0;
  int failures = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    int n = static_cast<int>(i) + 1;
    bool failed = i >= errors.size() || i >= results.size() || opc::Failed(errors[i]);
    if (failed) {
      ++failures;
      PrintErrorLine(FormatText("\n%d:[NO] ", n) + names[i], true);
    } else {
      ++successes;
      opcSession->items[i].serverHandle = results[i].serverHandle;
      opcSession->handleByItemId[Narrow(definitions[i].itemId)] = results[i].serverHandle;
      PrintText("\n" + std::to_string(n) + ":[OK] " + names[i]);
    }
  }
  PrintText("\nItems update completed! ");
  PrintGoodLine(FormatText("Success %d", successes), false);
  PrintText(", ");
  PrintErrorLine(FormatText("Failure %d", failures), false);
}

namespace {

// One device read; false when there is no syncIO or the call failed.
bool DeviceRead(const std::vector<uint32_t>& handles, std::vector<opc::ItemState>* states) {
  if (!opcSession->syncIO) return false;
  std::vector<opc::Result> errors;
  if (opc::Failed(opcSession->syncIO->Read(opc::kSourceDevice, handles, states, &errors))) {
    return false;
  }
  states->resize(handles.size());  // an adapter that answered short gives empty values
  return true;
}

}  // namespace

std::string ReadTags(const std::string& group, const std::string& item, const std::string& tags) {
  if (tags.empty()) return ReadAllItems();
  TextList names;
  SplitText(tags, ",", &names);
  if (names.empty()) return "[]";
  std::vector<uint32_t> handles;
  for (const std::string& name : names) handles.push_back(HandleOf(ItemId(group, item, name)));
  std::vector<opc::ItemState> states;
  if (!DeviceRead(handles, &states)) return "Read error";
  std::string answer = "[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) answer += ",";
    answer += ValueRecord(names[i], VariantToText(states[i].value),
                          TimeStampSeconds(states[i].timeStamp));
  }
  return answer + "]";
}

std::string ReadAllItems() {
  std::vector<OpcItem>& items = opcSession->items;
  if (items.empty()) return "No Tags";
  std::vector<uint32_t> handles;
  for (const OpcItem& entry : items) handles.push_back(entry.serverHandle);
  std::vector<opc::ItemState> states;
  if (!DeviceRead(handles, &states)) {
    opcSession->connected = 0;
    return "Read error";
  }
  std::string answer = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    std::string text = VariantToText(states[i].value);
    items[i].lastValue = text;
    if (i > 0) answer += ",";
    answer += ValueRecord(items[i].tagName, text, TimeStampSeconds(states[i].timeStamp));
  }
  return answer + "]";
}

std::string ReadChangedItems(int32_t count, TextList names) {
  std::vector<OpcItem>& items = opcSession->items;
  // Never walk past the table or the names handed in.
  size_t limit = count > 0 ? static_cast<size_t>(count) : 0;
  if (limit > items.size()) limit = items.size();
  if (limit > names.size()) limit = names.size();
  if (limit == 0) return "";
  std::vector<uint32_t> handles;
  for (size_t i = 0; i < limit; ++i) handles.push_back(items[i].serverHandle);
  std::vector<opc::ItemState> states;
  if (!DeviceRead(handles, &states)) {
    opcSession->connected = 0;
    PrintErrorLine("\nRead error", true);
    return "";
  }
  std::string answer;
  for (size_t i = 0; i < limit; ++i) {
    std::string text = VariantToText(states[i].value);
    if (text != items[i].lastValue) {
      items[i].lastValue = text;
      if (!answer.empty()) answer += ",";
      answer += ValueRecord(names[i], text, TimeStampSeconds(states[i].timeStamp));
    }
  }
  return answer;
}

std::string ListLeafItems(const std::string& group, const std::string& item,
                          const std::string& filters) {
  std::string answer = "[";
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
  std::shared_ptr<opc::OpcObject> object = ServerUnknown();
  if (object) object->QueryBrowse(&browse);
  if (!browse) return "[]";
  browse->ChangeBrowsePosition(opc::kBrowseTo, Wide(group + "." + item));
  std::vector<std::u16string> names;
  browse->BrowseOPCItemIDs(opc::kBrowseLeaf, u"", opc::VT_EMPTY, 0, &names);
  TextList prefixes;
  if (!filters.empty()) SplitText(filters, ",", &prefixes);
  bool first = true;
  for (const std::u16string& wide : names) {
    std::string name = Narrow(wide);
    if (!prefixes.empty() && !StartsWithAny(prefixes.size(), prefixes, name)) continue;
    if (!first) answer += ",";
    first = false;
    answer += "\"" + JsonEscape(name) + "\"";
  }
  browse->ChangeBrowsePosition(opc::kBrowseTo, u"");
  return answer + "]";
}

std::string WriteTags(const std::string& group, const std::string& item,
                      const std::string& tagkvs) {
  TextList entries;
  SplitText(tagkvs, ",", &entries);
  if (entries.empty()) return "No tags";
  std::vector<uint32_t> handles;
  std::vector<opc::Variant> values;
  for (const std::string& entry : entries) {
    size_t colon = entry.rfind(':');
    std::string name = colon == std::string::npos ? "" : entry.substr(0, colon);
    std::string text = colon == std::string::npos ? entry : entry.substr(colon + 1);
    std::string id = ItemId(group, item, name);
    handles.push_back(HandleOf(id));
    values.push_back(TextToVariant(TypeOf(id), text));
  }
  if (!opcSession->syncIO) return "error";
  std::vector<opc::Result> errors;
  if (opc::Failed(opcSession->syncIO->Write(handles, values, &errors))) return "error";
  return "ok";
}

namespace {

// Reloads the tags file when its last-write time differs from the one seen at
// the last reload. True when the operator must be told that it is missing.
bool WatchTagsFile() {
  int64_t time = 0;
  if (!platform::LastWriteTime(TagsFilePath(), &time)) {
    // Tell the operator once per disappearance; when the file comes back,
    // whatever its time, the next tick loads it.
    bool tell = !tagsMissingReported;
    tagsMissingReported = true;
    tagsFileTime = 0;
    return tell;
  }
  if (time == tagsFileTime) return false;
  tagsMissingReported = false;
  tagsFileTime = time;
  if (ReloadTags()) return false;
  tagsMissingReported = true;
  tagsFileTime = 0;
  return true;
}

}  // namespace

void SuperviseTick() {
  if (superviseBusy) return;
  superviseBusy = true;
  bool tagsMissing = false;
  {
    std::lock_guard<std::mutex> hold(opcSession->lock);
    if (superviseTicks >= agentSettings.itemscf) {
      superviseTicks = 0;
      RefreshTagsFile();
    }
    ++superviseTicks;
    if (opcSession->connected == 1) {
      tagsMissing = WatchTagsFile();
    } else {
      PrintErrorLine("\nConnect to opc server failed, retrying...", true);
      ConnectServer(agentSettings.domain, agentSettings.host, agentSettings.user,
                    agentSettings.pass, serverClassId, agentSettings.isremote);
      if (opcSession->connected == 1 && CreateGroup(agentSettings.group) == 0) {
        // The items are added to the new group before the lock is let go:
        // until then the session would still read through the lost server's
        // group, fail, and count the fresh connection as lost again.
        tagsFileTime = 0;
        tagsMissing = WatchTagsFile();
      }
    }
  }
  // Shown without the session lock: the OPC worker and the sampler go on
  // while the box waits for the operator.
  if (tagsMissing) {
    platform::ShowMessageBox("tags file isn't exists", "TALVERO", platform::kMbIconStop);
  }
  superviseBusy = false;
}
