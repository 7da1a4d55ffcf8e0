#include "bridge/opc_operations.h"

#include <mutex>

#include "opc/opc_session.h"
#include "opc/tag_operations.h"

namespace {

BridgeOperation UnderSessionLock(OpcSession* session, const char* name,
                                 std::string (*operation)(OpcSession&, const std::string&,
                                                          const std::string&, const std::string&)) {
  return [session, name, operation](const std::string& group, const std::string& item,
                                    const std::string& argument) {
    // Without a session there is nothing to ask; the empty answer lets the
    // waiter end with TimeOut as for any unanswered request.
    if (session == nullptr) return std::string();
    std::lock_guard<std::mutex> guard(session->lock);
    WatchedCall watched(session->calls, name);
    return operation(*session, group, item, argument);
  };
}

}  // namespace

BridgeOperations OpcSessionOperations(OpcSession* session) {
  return BridgeOperations{UnderSessionLock(session, "Read (API)", &ReadTags),
                          UnderSessionLock(session, "Write (API)", &WriteTags),
                          UnderSessionLock(session, "Browse (API)", &ListLeafItems)};
}
