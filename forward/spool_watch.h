// The spool seen from outside: what waits there, and the operator's alarms
// when uploads fall behind or the spool's disk runs low.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/env.h"

// What the spool holds at one look.
struct SpoolCensus {
  bool listed = false;             // false when the folder could not be listed (see cause)
  std::string cause;               // why the listing failed
  int64_t files = 0;               // spool files waiting for upload
  uint64_t bytes = 0;              // their sizes together (files that vanished meanwhile left out)
  std::string oldestName;          // the name of the oldest, "" when none waits
  std::vector<std::string> names;  // the waiting files counted, oldest name first
};

// Counts the spool files of folder. Never throws; safe from any thread.
SpoolCensus TakeSpoolCensus(platform::Env* env, const std::string& folder);

// The millisecond time in a spool file's name ("1796819074123.txt"); -1 for
// a name that is not digits followed by ".txt".
int64_t SpoolNameMilliseconds(const std::string& name);

// Prints the spool's alarms. Used by one thread at a time; the watch keeps
// what it has already told.
//  - Backlog: while a file has waited longer than ten sampling intervals,
//    "\nUpload backlog: N files waiting, the oldest from <local time>" at
//    most once every ten minutes; "\nUploads caught up." once the spool is
//    empty again. A file has waited since the time in its name or since the
//    watch first saw it, whichever is earlier: a name from a clock running
//    ahead (another PC's, or this one's before it was set back) holds no
//    alarm back.
//  - Disk space: when the spool's volume has less than 100 MiB or 1% free,
//    one line on the way down and one on the way back up.
class SpoolWatch {
 public:
  // With uploadsConfigured false (no api_host) files are meant to stay, and
  // only the disk space is watched.
  SpoolWatch(platform::Env* env, std::string folder, int32_t sampleIntervalMs,
             bool uploadsConfigured);

  // Looks at the spool now.
  void Check();

  // Runs Check when none has run yet or one sampling interval (at least a
  // second, at most a minute) has passed since the last. Meant to be called
  // every second or so by a thread of the watch's own, so the alarms keep
  // their time however long an upload takes.
  void CheckIfDue();

 private:
  void CheckBacklog(const SpoolCensus& census);
  void CheckSpace();

  platform::Env* const env_;
  const std::string folder_;
  const int64_t backlogAgeMs_;     // ten sampling intervals, at least ten seconds
  const int64_t checkIntervalNs_;  // the pace of CheckIfDue
  const bool uploadsConfigured_;
  bool checked_ = false;
  int64_t checkedAtNs_ = 0;  // monotonic time of the last Check by CheckIfDue
  // The monotonic time each waiting file was first seen; only files still
  // waiting are kept.
  std::map<std::string, int64_t> firstSeenNs_;
  bool backlogTold_ = false;
  int64_t backlogToldAtNs_ = 0;  // monotonic time of the last backlog line
  bool spaceLow_ = false;
};
