// The uploader: each tick posts the spool files, oldest first, and deletes
// each one that the API host accepted with the answer "OK".
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/env.h"

// What one uploader is handed by its owner.
struct UploaderContext {
  platform::Env* env = nullptr;  // files, the outgoing request and console
  std::string url;               // api_host; empty means "send nothing"
  std::string folder;            // the spool folder
  // True once the owner wants the uploader to end (the agent is stopping);
  // looked at before each file. Empty: never.
  std::function<bool()> stopRequested;
};

// The state one uploader keeps between ticks. Used by the uploader's own
// worker thread; busy also turns away a tick that overlaps a running one.
// Every other field is only touched while busy is held, and each set of
// names keeps only names still in the folder, so none outgrows it.
struct UploaderState {
  std::atomic<bool> busy{false};
  // The last listing failed and the operator was told. A failing folder is
  // reported once, not at every tick.
  bool listingFailed = false;
  // Files whose posts reached the receiver but got no answer, with the
  // number of ticks in a row that happened.
  std::map<std::string, int> unansweredTicks;
  // Files the receiver accepted that could not be deleted. They are never
  // posted again in this run; each tick only tries the delete again.
  std::set<std::string> acceptedUndeleted;
  // Files in the folder that are not spool files, each named once.
  std::set<std::string> foreignTold;
  // The reasons why posts of the last tick that posted were not accepted;
  // the operator is told of a reason only when it was not among them.
  std::set<std::string> lastRefusals;
};

struct UploadSummary {
  int posted = 0;         // requests made
  int accepted = 0;       // posts answered "OK"
  int undeleted = 0;      // accepted files (now or earlier) whose delete failed in this tick
  int unreadable = 0;     // files skipped because they could not be read
  int unanswered = 0;     // posts that reached the receiver but got no answer
  bool unlisted = false;  // the spool folder could not be listed
  bool ended = false;     // unreachable or a gateway's answer: the rest waits for the next tick
  bool stopped = false;   // a stop request ended the tick
  // The last thing of the tick that went wrong, in words ("receiver not
  // reached", "no answer", "status 503", "answered \"busy\"", "accepted but
  // not deleted: Permission denied"); empty when nothing did.
  std::string failure;
};

// The words for a post's outcome that was not "OK". The receiver's text is
// cut at 80 characters and its control characters are shown as escapes
// ("\n"), so the words stay on one line.
std::string UploadFailureText(const platform::HttpExchange& reply);

// One tick. Files are taken in ascending name order; only spool files (the
// sampler's names) are posted, and any other file is named on the console
// once and left where it is. A file that cannot be read (still being
// written, vanished) is skipped and tried at a later tick. A status-200 "OK"
// deletes the file; a file that cannot be deleted is named once with the
// cause and is not posted again, only its delete is tried at each tick. Any
// other answer keeps the file and the tick goes on, as does a post that
// reached the receiver but got no answer (reset, time limit; a file that gets
// none in three ticks in a row is named on the console). A receiver that
// cannot be reached at all (refused, name not resolved, connect time limit)
// and a gateway's answer that the receiver behind it is down (502, 503, 504)
// end the tick, and a stop request ends it before the next file. Why posts
// are not accepted is told whenever a reason comes that the tick before did
// not have ("\nUpload not accepted: status 500"; a redirect that was not
// followed with its new location), and a folder that cannot be listed with
// the cause. Past ten
// files to name of one kind in a tick, the rest are counted in one line.
// Never throws.
UploadSummary UploadTickWith(const UploaderContext& context, UploaderState* state);
