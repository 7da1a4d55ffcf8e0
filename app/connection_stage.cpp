#include "app/connection_stage.h"

#include <mutex>

#include "app/settings.h"
#include "common/console_output.h"
#include "opc/item_set.h"
#include "opc/opc_connection.h"
#include "opc/opc_session.h"

bool RunConnectionStage(bool* groupReady) {
  *groupReady = false;
  OpcSession& session = *opcSession;
  std::lock_guard<std::mutex> hold(session.lock);
  const OpcSettings& settings = session.settings;
  const ServerTarget target = TargetOf(settings);
  PrintText("\nFinding opc server on " +
            (settings.isremote ? settings.host : std::string("localhost")) + " ...");
  DiscoverResult found = DiscoverServer(session, target, settings.progid, &session.serverClassId);
  if (found == DiscoverResult::kNoMatch) {
    PrintText("\nNo matching progid server found");
    return false;
  }
  if (found != DiscoverResult::kFound) {
    PrintText("\nNo opc server found.");
    return false;
  }
  if (ConnectServer(session, target, session.serverClassId) != ConnectResult::kConnected) {
    PrintText("\nConnect to opc server failed.");
    return true;
  }
  RefreshTagsFile(session);
  if (CreateGroup(session, settings.group) != GroupResult::kCreated) {
    PrintText("\nCommunicate to opc server failed.");
    return true;
  }
  if (!settings.autoitems) {
    BrowseLeafItems(session, settings.group, settings.item, &session.browsedItems);
  }
  *groupReady = true;
  return true;
}
