#include "bridge/opc_operations.h"

#include "opc/opc_call_watch.h"
#include "opc/opc_session.h"
#include "opc/tag_operations.h"

namespace {

// The bridge holds the session's lock (the call lock) while an operation
// runs; the operation names its call to the watch, so a call that does not
// return is told.
BridgeOperation OnSession(OpcSession* session, const char* name,
                          std::string (*operation)(OpcSession&, const std::string&,
                                                   const std::string&, const std::string&)) {
  return [session, name, operation](const std::string& group, const std::string& item,
                                    const std::string& argument) {
    // Without a session there is nothing to ask; the empty answer lets the
    // waiter end with TimeOut as for any unanswered request.
    if (session == nullptr) return std::string();
    WatchedCall watched(session->calls, name);
    return operation(*session, group, item, argument);
  };
}

}  // namespace

BridgeOperations OpcSessionOperations(OpcSession* session) {
  return BridgeOperations{OnSession(session, "Read (API)", &ReadTags),
                          OnSession(session, "Write (API)", &WriteTags),
                          OnSession(session, "Browse (API)", &ListLeafItems),
                          session == nullptr ? nullptr : &session->lock};
}
