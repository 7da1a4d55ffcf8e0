// The agent's one tie to its OPC server: interfaces, item table, look-up maps,
// and what app/ handed the OPC client when it created the session.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/text_helpers.h"
#include "opc/opc_call_watch.h"
#include "opc/opc_server.h"
#include "opc/opc_settings.h"
#include "platform/env.h"

struct OpcItem {
  std::string tagName;        // one line of the tags file, exactly as read
  uint32_t serverHandle = 0;  // 0 when adding it failed
};

struct OpcSession {
  // 1 while connected. Atomic, like the item counts below, so that the
  // status report reads them without the lock; written under it.
  std::atomic<int32_t> connected{0};
  // Items added and refused by the last item update.
  std::atomic<int32_t> itemsAdded{0};
  std::atomic<int32_t> itemsFailed{0};
  std::shared_ptr<opc::OpcObject> serverObject;  // the server's, then the group's object
  std::shared_ptr<opc::OpcServer> opcServer;
  std::map<std::string, uint32_t> handleByItemId;
  std::map<std::string, int32_t> typeByItemId;
  std::shared_ptr<opc::OpcItemMgt> itemMgt;
  std::shared_ptr<opc::OpcSyncIO> syncIO;
  std::vector<OpcItem> items;
  // Counts the rebuilds of items, so that a reader that keeps something per
  // item (the sampler) knows when the table it kept it for is gone.
  uint64_t itemSetVersion = 0;

  // The server's own object, kept after CreateGroup puts the group's object
  // in serverObject: browsing and item properties are asked of the server
  // (as QueryInterface on IOPCServer would), never of the group.
  std::shared_ptr<opc::OpcObject> serverUnknown;

  // Handed in by app/ before the first use, never changed afterwards.
  opc::OpcConnector* connector = nullptr;         // creates servers and server lists
  platform::Env* env = platform::Env::Default();  // the console and the data files
  std::string dataFolder;                         // holds tags.txt and items.db
  OpcSettings settings;

  // The class id of the chosen server: written by DiscoverServer, read by
  // every ConnectServer (a reconnection uses the class found at startup).
  opc::ClassId serverClassId{};

  // The item store refresh: the leaf names of the last browse by startup or
  // RefreshTagsFile, the digest of all leaf names of the last browse that led
  // to a copy, and the MD5 entry points it is taken with.
  TextList browsedItems;
  std::string lastItemsDigest;
  DigestFunctions itemsDigest;

  // The session lock. Each top-level use of the session holds it from start
  // to end: the connection stage, one supervisor tick's OPC work, one API
  // operation of the OPC worker, one sampling read. The operations of the OPC
  // client themselves take no lock. Never held while a message box is shown.
  // It guards every field above; the fields handed in by app/ are only read.
  std::mutex lock;

  // The call to the server that a holder of the lock is making now, read
  // without the lock by the status report and by the thread that tells the
  // operator of a call that does not return. Has a lock of its own.
  CallWatch calls;
};

// The full OPC item id of a tag: group "." item "." tag.
std::string ItemId(const std::string& group, const std::string& item, const std::string& tag);

// Lets go of every interface of the server and empties the item table, as
// the end of the agent does; the caller holds the session lock.
void ReleaseServer(OpcSession& session);

// The path of a file of the session's data folder.
std::string DataFile(const OpcSession& session, const std::string& name);
