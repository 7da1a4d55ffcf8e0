#include "bridge/opc_operations.h"

#include "opc/opc_session.h"
#include "opc/tag_operations.h"

namespace {

BridgeOperation OnSession(OpcSession* session,
                          std::string (*operation)(OpcSession&, const std::string&,
                                                   const std::string&, const std::string&)) {
  return [session, operation](const std::string& group, const std::string& item,
                              const std::string& argument) {
    // Without a session there is nothing to ask; the empty answer lets the
    // waiter end with TimeOut as for any unanswered request.
    if (session == nullptr) return std::string();
    return operation(*session, group, item, argument);
  };
}

}  // namespace

BridgeOperations OpcSessionOperations(OpcSession* session) {
  return BridgeOperations{OnSession(session, &ReadTags), OnSession(session, &WriteTags),
                          OnSession(session, &ListLeafItems),
                          session == nullptr ? nullptr : &session->lock};
}
