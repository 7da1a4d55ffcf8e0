#include "opc/tag_operations.h"

#include "common/console_output.h"
#include "opc/item_set.h"
#include "opc/opc_connection.h"
#include "opc/value_text.h"
#include "platform/codepage.h"

namespace {

// Map look-ups that yield 0 for an absent id without inserting it: made-up
// tag names in API requests must not grow the maps for the life of the process.
uint32_t HandleOf(const OpcSession& session, const std::string& id) {
  auto found = session.handleByItemId.find(id);
  return found == session.handleByItemId.end() ? 0 : found->second;
}
int32_t TypeOf(const OpcSession& session, const std::string& id) {
  auto found = session.typeByItemId.find(id);
  return found == session.typeByItemId.end() ? 0 : found->second;
}

// One device read; false when there is no syncIO or the call failed.
bool DeviceRead(OpcSession& session, const std::vector<uint32_t>& handles,
                std::vector<opc::ItemState>* states) {
  if (!session.syncIO) return false;
  std::vector<opc::Result> errors;
  if (opc::Failed(session.syncIO->Read(opc::kSourceDevice, handles, states, &errors))) {
    return false;
  }
  states->resize(handles.size());  // an adapter that answered short gives empty values
  return true;
}

// A text from a request as the console shows it: on one line and short.
std::string Shown(const std::string& text) {
  const size_t kLongest = 64;
  std::string shown;
  for (size_t i = 0; i < text.size() && i < kLongest; ++i) {
    unsigned char ch = static_cast<unsigned char>(text[i]);
    shown += ch < 0x20 || ch == 0x7F ? '?' : text[i];
  }
  return text.size() > kLongest ? shown + "..." : shown;
}

}  // namespace

std::string ReadTags(OpcSession& session, const std::string& group, const std::string& item,
                     const std::string& tags) {
  if (tags.empty()) return ReadAllItems(session);
  TextList names;
  SplitText(tags, ",", &names);
  if (names.empty()) return "[]";
  std::vector<uint32_t> handles;
  for (const std::string& name : names) {
    handles.push_back(HandleOf(session, ItemId(group, item, name)));
  }
  std::vector<opc::ItemState> states;
  if (!DeviceRead(session, handles, &states)) return "Read error";
  std::string answer = "[";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) answer += ",";
    answer +=
        ValueRecord(session.settings.records, names[i], VariantToText(states[i].value), states[i]);
  }
  return answer + "]";
}

std::string ReadAllItems(OpcSession& session) {
  const std::vector<OpcItem>& items = session.items;
  if (items.empty()) return "No Tags";
  std::vector<uint32_t> handles;
  for (const OpcItem& entry : items) handles.push_back(entry.serverHandle);
  std::vector<opc::ItemState> states;
  if (!DeviceRead(session, handles, &states)) {
    session.connected = 0;
    return "Read error";
  }
  std::string answer = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    std::string text = VariantToText(states[i].value);
    if (i > 0) answer += ",";
    answer += ValueRecord(session.settings.records, items[i].tagName, text, states[i]);
  }
  return answer + "]";
}

bool ReadItemValues(OpcSession& session, int32_t count, std::vector<ItemValue>* values) {
  values->clear();
  const std::vector<OpcItem>& items = session.items;
  // Never walk past the table.
  size_t limit = count > 0 ? static_cast<size_t>(count) : 0;
  if (limit > items.size()) limit = items.size();
  if (limit == 0) return true;
  std::vector<uint32_t> handles;
  for (size_t i = 0; i < limit; ++i) handles.push_back(items[i].serverHandle);
  std::vector<opc::ItemState> states;
  if (!DeviceRead(session, handles, &states)) {
    session.connected = 0;
    PrintErrorLine(session.env, "\nRead error", true);
    return false;
  }
  for (size_t i = 0; i < limit; ++i) {
    std::string text = VariantToText(states[i].value);
    std::string record = ValueRecord(session.settings.records, items[i].tagName, text, states[i]);
    values->push_back(ItemValue{items[i].tagName, std::move(text), std::move(record)});
  }
  return true;
}

std::string ListLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                          const std::string& filters) {
  std::string answer = "[";
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
  std::shared_ptr<opc::OpcObject> object = session.opcServer ? session.serverUnknown : nullptr;
  if (object) object->QueryBrowse(&browse);
  if (!browse) return "[]";
  std::vector<std::u16string> names;
  if (!BrowseBranchLeaves(*browse, group, item, &names)) {
    // A branch the server cannot reach lists nothing, not the leaves of
    // wherever the position happens to stand.
    browse->ChangeBrowsePosition(opc::kBrowseTo, u"");
    return "[]";
  }
  TextList prefixes;
  if (!filters.empty()) SplitText(filters, ",", &prefixes);
  bool first = true;
  for (const std::u16string& wide : names) {
    std::string name = platform::Utf16ToAnsi(wide);
    if (!prefixes.empty() && !StartsWithAny(prefixes.size(), prefixes, name)) continue;
    if (!first) answer += ",";
    first = false;
    answer += "\"" + JsonEscape(name) + "\"";
  }
  browse->ChangeBrowsePosition(opc::kBrowseTo, u"");
  return answer + "]";
}

std::string WriteTags(OpcSession& session, const std::string& group, const std::string& item,
                      const std::string& tagkvs) {
  TextList entries;
  SplitText(tagkvs, ",", &entries);
  if (entries.empty()) return "No tags";
  std::vector<std::string> names;
  std::vector<uint32_t> handles;
  std::vector<opc::Variant> values;
  // An entry whose text is no value of its item's type is not written: the
  // others are, and the answer tells that not all of them were.
  bool allWritten = true;
  for (const std::string& entry : entries) {
    size_t colon = entry.rfind(':');
    std::string name = colon == std::string::npos ? "" : entry.substr(0, colon);
    std::string text = colon == std::string::npos ? entry : entry.substr(colon + 1);
    std::string id = ItemId(group, item, name);
    int32_t type = TypeOf(session, id);
    opc::Variant value;
    if (!TextToVariant(type, text, &value)) {
      allWritten = false;
      PrintErrorLine(session.env,
                     "\nWrite refused: " + Shown(name) + ": \"" + Shown(text) + "\" is not " +
                         NumberRule(type),
                     true);
      continue;
    }
    names.push_back(name);
    handles.push_back(HandleOf(session, id));
    values.push_back(value);
  }
  if (!session.syncIO || handles.empty()) return "error";
  std::vector<opc::Result> errors;
  opc::Result result = session.syncIO->Write(handles, values, &errors);
  if (opc::Failed(result)) return "error";
  // The server writes what it can and refuses the rest entry by entry
  // (S_FALSE): the answer is "ok" only when every entry was written.
  for (size_t i = 0; i < names.size(); ++i) {
    bool written = i < errors.size() ? opc::Succeeded(errors[i]) : result == opc::kOk;
    if (written) continue;
    allWritten = false;
    opc::Result cause = i < errors.size() ? errors[i] : result;
    PrintErrorLine(session.env,
                   "\nWrite refused: " + names[i] + ": " + ServerErrorText(session, cause), true);
  }
  return allWritten ? "ok" : "error";
}
