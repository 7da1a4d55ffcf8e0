#include "app/connection_stage.h"

#include <mutex>

#include "common/console_output.h"
#include "opc/item_set.h"
#include "opc/opc_connection.h"
#include "opc/opc_session.h"

bool RunConnectionStage(OpcSession& session, bool* groupReady) {
  *groupReady = false;
  std::lock_guard<std::mutex> hold(session.lock);
  const OpcSettings& settings = session.settings;
  const ServerTarget target = TargetOf(settings);
  PrintText(session.env, "\nFinding opc server on " +
                             (settings.isremote ? settings.host : std::string("localhost")) +
                             " ...");
  DiscoverResult found = DiscoverResult::kFound;
  {
    WatchedCall watched(session.calls, "Discover");
    found = DiscoverServer(session, target, settings.progid, &session.serverClassId);
  }
  if (found == DiscoverResult::kNoMatch) {
    PrintText(session.env, "\nNo matching progid server found");
    return false;
  }
  if (found != DiscoverResult::kFound) {
    PrintText(session.env, "\nNo opc server found.");
    return false;
  }
  bool connected = false;
  {
    WatchedCall watched(session.calls, "Connect");
    connected = ConnectServer(session, target, session.serverClassId) == ConnectResult::kConnected;
  }
  if (!connected) {
    PrintText(session.env, "\nConnect to opc server failed.");
    return true;
  }
  {
    WatchedCall watched(session.calls, "Browse (tags file)");
    RefreshTagsFile(session);
  }
  bool grouped = false;
  {
    WatchedCall watched(session.calls, "AddGroup");
    grouped = CreateGroup(session, settings.group) == GroupResult::kCreated;
  }
  if (!grouped) {
    PrintText(session.env, "\nCommunicate to opc server failed.");
    return true;
  }
  if (!settings.autoitems) {
    WatchedCall watched(session.calls, "Browse (types)");
    BrowseLeafItems(session, settings.group, settings.item, &session.browsedItems);
  }
  *groupReady = true;
  return true;
}
