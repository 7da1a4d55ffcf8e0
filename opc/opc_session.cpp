#include "opc/opc_session.h"

#include "platform/file_system.h"

std::string ItemId(const std::string& group, const std::string& item, const std::string& tag) {
  return group + "." + item + "." + tag;
}

void ReleaseServer(OpcSession& session) {
  session.connected = 0;
  session.items.clear();
  session.handleByItemId.clear();
  session.typeByItemId.clear();
  session.syncIO.reset();
  session.itemMgt.reset();
  session.opcServer.reset();
  session.serverUnknown.reset();
  session.serverObject.reset();
}

std::string DataFile(const OpcSession& session, const std::string& name) {
  return session.dataFolder + platform::kPathSeparator + name;
}
