// The connection stage of startup: discovery, first connection, tags file
// refresh and group creation, with the console messages of each outcome.
#pragma once

#include "opc/opc_session.h"

// Runs the stage on session from the main thread, holding the session lock
// throughout.
// Returns false when the agent must end now with exit code 0 (no OPC server,
// or none with the configured ProgID); true when startup goes on, with
// *groupReady true only when the connection and the group both succeeded.
bool RunConnectionStage(OpcSession& session, bool* groupReady);
