// The production operations of the bridge: the OPC client's read, write and
// listing, each holding the session lock for the whole call so that no other
// OPC user (supervisor, sampler) runs between its steps.
#include <mutex>

#include "bridge/request_bridge.h"
#include "opc/opc_client.h"
#include "opc/opc_session.h"

namespace {

BridgeOperation UnderSessionLock(std::string (*operation)(const std::string&, const std::string&,
                                                          const std::string&)) {
  return [operation](const std::string& group, const std::string& item, const std::string& third) {
    // Without a session there is nothing to ask; the empty answer lets the
    // waiter end with TimeOut as for any unanswered request.
    if (opcSession == nullptr) return std::string();
    std::lock_guard<std::mutex> guard(opcSession->lock);
    return operation(group, item, third);
  };
}

}  // namespace

BridgeOperations OpcBridgeOperations() {
  return BridgeOperations{UnderSessionLock(&ReadTags), UnderSessionLock(&WriteTags),
                          UnderSessionLock(&ListLeafItems)};
}
