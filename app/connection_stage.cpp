#include "app/connection_stage.h"

#include <mutex>

#include "common/console_output.h"
#include "app/settings.h"
#include "opc/opc_client.h"
#include "opc/opc_session.h"

bool RunConnectionStage(bool* groupReady) {
  *groupReady = false;
  std::lock_guard<std::mutex> hold(opcSession->lock);
  const AgentSettings& settings = agentSettings;
  PrintText("\nFinding opc server on " +
            (settings.isremote ? settings.host : std::string("localhost")) + " ...");
  int32_t found = DiscoverServer(settings.domain, settings.host, settings.user, settings.pass,
                                 settings.progid, settings.isremote, &serverClassId);
  if (found == 8) {
    PrintText("\nNo matching progid server found");
    return false;
  }
  if (found > 0) {
    PrintText("\nNo opc server found.");
    return false;
  }
  if (ConnectServer(settings.domain, settings.host, settings.user, settings.pass, serverClassId,
                    settings.isremote) != 0) {
    PrintText("\nConnect to opc server failed.");
    return true;
  }
  RefreshTagsFile();
  if (CreateGroup(settings.group) > 0) {
    PrintText("\nCommunicate to opc server failed.");
    return true;
  }
  if (!settings.autoitems) BrowseLeafItems(settings.group, settings.item, &browsedItems);
  *groupReady = true;
  return true;
}
