#include "opc/opc_session.h"

#include "platform/file_system.h"

OpcSession* opcSession = nullptr;

std::string ItemId(const std::string& group, const std::string& item, const std::string& tag) {
  return group + "." + item + "." + tag;
}

std::string DataFile(const OpcSession& session, const std::string& name) {
  return session.dataFolder + platform::kPathSeparator + name;
}
