// The agent's one tie to its OPC server: interfaces, item table, look-up maps.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "opc/opc_server.h"

struct OpcItem {
  std::string tagName;        // one line of the tags file, exactly as read
  uint32_t serverHandle = 0;  // 0 when adding it failed
  std::string lastValue;      // value text of the last read; empty after adding
};

struct OpcSession {
  int32_t connected = 0;
  std::shared_ptr<opc::OpcObject> serverObject;  // the server's, then the group's object
  std::shared_ptr<opc::OpcServer> opcServer;
  std::map<std::string, uint32_t> handleByItemId;
  std::map<std::string, int32_t> typeByItemId;
  std::shared_ptr<opc::OpcItemMgt> itemMgt;
  std::shared_ptr<opc::OpcSyncIO> syncIO;
  std::vector<OpcItem> items;

  // The server's own object, kept after CreateGroup puts the group's object
  // in serverObject: browsing and item properties are asked of the server
  // (as QueryInterface on IOPCServer would), never of the group.
  std::shared_ptr<opc::OpcObject> serverUnknown;

  // Creates servers and server lists; set by startup before the first use.
  opc::OpcConnector* connector = nullptr;

  // The session lock. Each top-level use of the session holds it from start
  // to end: the connection stage, one supervisor tick's OPC work, one API
  // operation of the OPC worker, one sampling read. The operations of the OPC
  // client themselves take no lock. Never held while a message box is shown.
  std::mutex lock;
};

// The process-wide session: set once by startup, destroyed by the shutdown.
extern OpcSession* opcSession;
