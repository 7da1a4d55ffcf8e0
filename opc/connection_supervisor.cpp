#include "opc/connection_supervisor.h"

#include <mutex>

#include "common/console_output.h"
#include "opc/item_set.h"
#include "opc/opc_connection.h"

// Reloads the tags file when its last-write time differs from the one seen at
// the last reload. True when the operator must be told that it is missing.
bool ConnectionSupervisor::WatchTagsFile(OpcSession& session) {
  int64_t time = 0;
  if (!session.env->LastWriteTime(DataFile(session, "tags.txt"), &time)) {
    // Tell the operator once per disappearance; when the file comes back,
    // whatever its time, the next tick loads it.
    bool tell = !tagsMissingReported_;
    tagsMissingReported_ = true;
    tagsFileTime_ = 0;
    return tell;
  }
  if (time == tagsFileTime_) return false;
  tagsMissingReported_ = false;
  tagsFileTime_ = time;
  WatchedCall watched(session.calls, "AddItems");
  if (ReloadTags(session)) return false;
  tagsMissingReported_ = true;
  tagsFileTime_ = 0;
  return true;
}

bool ConnectionSupervisor::Tick(OpcSession& session) {
  if (busy_) return false;
  busy_ = true;
  bool tagsMissing = false;
  {
    std::lock_guard<std::mutex> hold(session.lock);
    if (ticks_ >= session.settings.itemscf) {
      ticks_ = 0;
      WatchedCall watched(session.calls, "Browse (tags file)");
      RefreshTagsFile(session);
    }
    ++ticks_;
    if (session.connected == 1) {
      tagsMissing = WatchTagsFile(session);
    } else {
      PrintErrorLine(session.env, "\nConnect to opc server failed, retrying...", true);
      {
        WatchedCall watched(session.calls, "Connect");
        ConnectServer(session, TargetOf(session.settings), session.serverClassId);
      }
      bool grouped = false;
      if (session.connected == 1) {
        WatchedCall watched(session.calls, "AddGroup");
        grouped = CreateGroup(session, session.settings.group) == GroupResult::kCreated;
      }
      if (grouped) {
        // The items are added to the new group before the lock is let go:
        // until then the session would still read through the lost server's
        // group, fail, and count the fresh connection as lost again.
        tagsFileTime_ = 0;
        tagsMissing = WatchTagsFile(session);
      }
    }
  }
  busy_ = false;
  return tagsMissing;
}
