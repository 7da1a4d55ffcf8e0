// The connection supervisor: once a second, while connected, it reloads the
// item set when the tags file changes; otherwise it connects again and
// recreates the group. Every itemscf ticks it lets the item list be
// refreshed from the server. app/ runs Tick on its supervisor worker and tells
// the operator when the tick reports the tags file missing.
#pragma once

#include <cstdint>

#include "opc/opc_session.h"

class ConnectionSupervisor {
 public:
  // One tick. Takes the session lock for its OPC work, and returns with it
  // released. True when the operator must be told that the tags file is
  // missing (once per disappearance).
  bool Tick(OpcSession& session);

 private:
  bool WatchTagsFile(OpcSession& session);

  // Touched by the supervisor's thread only.
  int32_t ticks_ = 1;
  int64_t tagsFileTime_ = 0;  // last-write time of tags.txt at the last reload
  bool busy_ = false;
  bool tagsMissingReported_ = false;
};
