#include "opc/item_set.h"

#include <set>

#include "common/console_output.h"
#include "common/text.h"
#include "opc/opc_connection.h"
#include "platform/codepage.h"

namespace {

std::u16string Wide(const std::string& text) { return platform::AnsiToUtf16(text); }
std::string Narrow(const std::u16string& text) { return platform::Utf16ToAnsi(text); }

std::shared_ptr<opc::OpcObject> ServerUnknown(const OpcSession& session) {
  if (!session.opcServer) return nullptr;
  return session.serverUnknown;
}

// The tag names of the tags file's text, in file order. What an editor adds
// around the names is no part of them: a byte-order mark before the first
// line, blanks and carriage returns at a line's end. An empty line names no
// tag, and a name listed again is added once and told once.
TextList TagNames(platform::Env* env, const std::string& content) {
  static const std::string kByteOrderMark = "\xEF\xBB\xBF";
  const bool marked = content.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0;
  TextList names;
  std::set<std::string> seen;
  std::set<std::string> told;
  for (std::string line : SplitLines(marked ? content.substr(kByteOrderMark.size()) : content)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.pop_back();
    }
    if (line.empty()) continue;
    if (seen.insert(line).second) {
      names.push_back(line);
    } else if (told.insert(line).second) {
      PrintErrorLine(env, "\nTag listed more than once, added once: " + line, false);
    }
  }
  return names;
}

// Takes the items of the last set out of the group before a new set is
// added: a server keeps memory, and often a licence, per item, and a reload
// that only added would pile up a copy of every item each time. The handles
// of handleByItemId are the current group's (a new group starts without any).
void RemovePreviousItems(OpcSession& session) {
  std::vector<uint32_t> handles;
  for (const auto& entry : session.handleByItemId) {
    if (entry.second != 0) handles.push_back(entry.second);
  }
  session.handleByItemId.clear();
  if (handles.empty() || !session.itemMgt) return;
  std::vector<opc::Result> errors;
  opc::Result result = session.itemMgt->RemoveItems(handles, &errors);
  // Items the server had forgotten already are refused one by one: nothing
  // to tell. A call that fails leaves the server holding the old set.
  if (opc::Failed(result)) {
    PrintErrorLine(session.env, "\nRemove item error: " + ServerErrorText(session, result), true);
  }
}

}  // namespace

bool BrowseBranchLeaves(opc::OpcBrowseServerAddressSpace& browse, const std::string& group,
                        const std::string& item, std::vector<std::u16string>* names) {
  names->clear();
  if (opc::Failed(browse.ChangeBrowsePosition(opc::kBrowseTo, Wide(group + "." + item)))) {
    return false;
  }
  return opc::Succeeded(browse.BrowseOPCItemIDs(opc::kBrowseLeaf, u"", opc::VT_EMPTY, 0, names));
}

bool BrowseLeafItems(OpcSession& session, const std::string& group, const std::string& item,
                     TextList* list) {
  std::shared_ptr<opc::OpcBrowseServerAddressSpace> browse;
  std::shared_ptr<opc::OpcItemProperties> properties;
  std::shared_ptr<opc::OpcObject> object = ServerUnknown(session);
  if (object) object->QueryBrowse(&browse);
  if (!browse) return false;
  std::vector<std::u16string> names;
  bool browsed = BrowseBranchLeaves(*browse, group, item, &names);
  if (browsed) {
    list->clear();
    session.typeByItemId.clear();
    object->QueryProperties(&properties);
  }
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
    session.typeByItemId[Narrow(itemId)] = static_cast<int32_t>(values[0].integer);
  }
  browse->ChangeBrowsePosition(opc::kBrowseTo, u"");
  return browsed;
}

void RefreshTagsFile(OpcSession& session) {
  const OpcSettings& settings = session.settings;
  if (!settings.autoitems || session.connected != 1) return;
  if (!BrowseLeafItems(session, settings.group, settings.item, &session.browsedItems)) {
    // An empty list here is no news about the server's items: keep both
    // files, and let the supervisor find out whether the server is still
    // there.
    session.connected = 0;
    PrintErrorLine(session.env, "\nBrowse error", true);
    return;
  }
  const std::string storePath = DataFile(session, "items.db");
  session.env->DeleteFileAt(storePath);  // usually fails only because there is none yet
  std::string all;
  std::string kept;
  for (const std::string& name : session.browsedItems) {
    all += name;
    if (StartsWithAny(settings.itemstartsList.size(), settings.itemstartsList, name)) {
      kept += name + "\n";
    }
  }
  platform::Status stored = session.env->WriteNewFileDurably(storePath, kept);
  if (!stored.ok()) {
    // Nothing sound to copy: the next refresh writes and copies again.
    PrintErrorLine(session.env, "\nItem store write failed: " + stored.cause(), true);
    return;
  }
  std::string digest = Md5Hex(&session.itemsDigest, all);
  // Without a digest the change cannot be judged: copy, and remember nothing.
  if (digest.empty() || digest != session.lastItemsDigest) {
    platform::Status copied =
        session.env->CopyFileReplacing(storePath, DataFile(session, "tags.txt"));
    if (copied.ok()) {
      session.lastItemsDigest = digest;
    } else {
      PrintErrorLine(session.env, "\nTags file copy failed: " + copied.cause(), true);
    }
  }
}

bool ReloadTags(OpcSession& session) {
  const std::string tagsPath = DataFile(session, "tags.txt");
  if (!session.env->PathExists(tagsPath)) return false;
  std::string content;
  platform::Status read = session.env->ReadWholeFile(tagsPath, &content);
  if (!read.ok()) {
    PrintErrorLine(session.env, "\nTags file read failed: " + read.cause(), true);
    return false;
  }
  session.items.clear();
  ++session.itemSetVersion;
  AddItemSet(session, session.settings.group, session.settings.item,
             TagNames(session.env, content));
  return true;
}

void AddItemSet(OpcSession& session, const std::string& group, const std::string& item,
                TextList names) {
  platform::Env* env = session.env;
  RemovePreviousItems(session);
  if (names.empty()) {
    session.itemsAdded = 0;
    session.itemsFailed = 0;
    PrintErrorLine(env, "\nNo item added", true);
    return;
  }
  PrintText(env, "\nItems adding...!");
  session.items.clear();
  ++session.itemSetVersion;
  std::vector<opc::ItemDefinition> definitions;
  for (size_t i = 0; i < names.size(); ++i) {
    OpcItem entry;
    entry.tagName = names[i];
    session.items.push_back(entry);
    opc::ItemDefinition definition;
    definition.itemId = Wide(ItemId(group, item, names[i]));
    definition.active = true;
    definition.clientHandle = static_cast<uint32_t>(i);
    definition.requestedDataType = opc::VT_EMPTY;
    definitions.push_back(definition);
  }
  std::vector<opc::ItemResult> results;
  std::vector<opc::Result> errors;
  if (!session.itemMgt || opc::Failed(session.itemMgt->AddItems(definitions, &results, &errors))) {
    session.itemsAdded = 0;
    session.itemsFailed = static_cast<int32_t>(names.size());
    PrintErrorLine(env, "\nAdd item error", true);
    return;
  }
  std::shared_ptr<opc::OpcSyncIO> syncIO;
  if (opc::Failed(session.itemMgt->QuerySyncIO(&syncIO)) || !syncIO) {
    PrintErrorLine(env, "\nAdd item query error", true);
  } else {
    session.syncIO = syncIO;
  }
  int successes = 0;
  int failures = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    int n = static_cast<int>(i) + 1;
    bool failed = i >= errors.size() || i >= results.size() || opc::Failed(errors[i]);
    if (failed) {
      ++failures;
      PrintErrorLine(env, FormatText("\n%d:[NO] ", n) + names[i], true);
    } else {
      ++successes;
      session.items[i].serverHandle = results[i].serverHandle;
      session.handleByItemId[Narrow(definitions[i].itemId)] = results[i].serverHandle;
      PrintText(env, "\n" + std::to_string(n) + ":[OK] " + names[i]);
    }
  }
  session.itemsAdded = successes;
  session.itemsFailed = failures;
  PrintText(env, "\nItems update completed! ");
  PrintGoodLine(env, FormatText("Success %d", successes), false);
  PrintText(env, ", ");
  PrintErrorLine(env, FormatText("Failure %d", failures), false);
}
