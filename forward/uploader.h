// The uploader: each tick posts the spool files, oldest first, and deletes
// each one that the API host accepted with the answer "OK".
#pragma once

#include <atomic>
#include <functional>
#include <map>
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
struct UploaderState {
  std::atomic<bool> busy{false};
  // The last listing failed and the operator was told; only touched while
  // busy is held. A failing folder is reported once, not at every tick.
  bool listingFailed = false;
  // Files whose posts reached the receiver but got no answer, with the
  // number of ticks in a row that happened; only touched while busy is held.
  std::map<std::string, int> unansweredTicks;
  // The new location of the last redirect that was not followed, told to
  // the operator once until a file is accepted again; only touched while
  // busy is held.
  std::string reportedLocation;
};

struct UploadSummary {
  int posted = 0;         // requests made
  int accepted = 0;       // files deleted after "OK"
  int unreadable = 0;     // files skipped because they could not be read
  int unanswered = 0;     // posts that reached the receiver but got no answer
  bool unlisted = false;  // the spool folder could not be listed
  bool ended = false;     // unreachable or a gateway's answer: the rest waits for the next tick
  bool stopped = false;   // a stop request ended the tick
  // The last post of the tick that was not accepted, in words ("receiver not
  // reached", "no answer", "status 503", "answered \"busy\""); empty when
  // every post was.
  std::string failure;
};

// The words for a post's outcome that was not "OK".
std::string UploadFailureText(const platform::HttpExchange& reply);

// One tick. Files are taken in ascending name order. A file that cannot be
// read (still being written, vanished) is skipped and tried at a later tick.
// A status-200 "OK" deletes the file; any other answer keeps it and the tick
// goes on, as does a post that reached the receiver but got no answer (reset,
// time limit; a file that gets none in three ticks in a row is named on the
// console). A receiver that cannot be reached at all (refused, name not
// resolved, connect time limit) and a gateway's answer that the receiver
// behind it is down (502, 503, 504) end the tick, and a stop request ends it
// before the next file. A redirect that was not followed is named on the
// console with its new location, and a folder that cannot be listed with the
// cause. Never throws.
UploadSummary UploadTickWith(const UploaderContext& context, UploaderState* state);
