// The agent's operations for the request bridge: the OPC client's read,
// write and listing on one session.
#pragma once

#include "bridge/request_kinds.h"

struct OpcSession;

// The table's call lock is session->lock, which the bridge holds for the
// whole of each operation, so that no other OPC user (supervisor, sampler)
// runs between its steps. A null session answers nothing, as for any
// unanswered request.
BridgeOperations OpcSessionOperations(OpcSession* session);
