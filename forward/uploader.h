// The uploader: each tick posts the spool files, oldest first, and deletes
// each one that the API host accepted with the answer "OK".
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/http_client.h"

// Posts one body to url and reports the whole outcome.
using UploadPost = std::function<platform::HttpExchange(const std::string& url, const std::string& body)>;

struct UploaderContext {
  std::string url;     // api_host; empty means "send nothing"
  std::string folder;  // the spool folder
  UploadPost post;
};

struct UploadSummary {
  int posted = 0;        // requests made
  int accepted = 0;      // files deleted after "OK"
  int unreadable = 0;    // files skipped because they could not be read
  bool ended = false;    // a post got no answer, so the rest waits for the next tick
};

// One tick with explicit parts; busy turns away a tick that overlaps a running
// one. Files are taken in ascending name order. A file that cannot be read
// (still being written, vanished) is skipped and tried at a later tick. A
// status-200 "OK" deletes the file; any other answer keeps it and the tick
// goes on; no answer at all (unreachable, refused, reset, time limit) ends
// the tick. Never throws.
UploadSummary UploadTickWith(const UploaderContext& context, std::atomic<bool>* busy);

// The uploader worker's task: api_host, the spool folder, TALVXML.
void UploadTick();
