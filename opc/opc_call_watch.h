// Which call to the OPC server is running, and since when.
//
// A server that stops answering holds the thread that called it, and that
// thread holds the session lock, so nothing that waits for the lock can tell
// the operator. The watch is kept beside the session under a lock of its own
// that is never held during a call: the status report and a thread that
// never takes the session lock read it while a call hangs.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/env.h"

class CallWatch {
 public:
  // Times calls on clock's monotonic clock (the real one unless a test hands
  // in its own).
  explicit CallWatch(platform::Env* clock = platform::Env::Default()) : clock_(clock) {}
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // A call named name (a literal: the watch keeps the pointer) begins; the token ends it. The
  // session lock lets one call run at a time; a Begin while another runs takes its place, and the
  // other's End then changes nothing.
  uint64_t Begin(const char* name);
  void End(uint64_t token);

  // How long the running call has run, in milliseconds; 0 when none runs.
  int64_t StalledMs() const;
  // The running call's name, "" when none runs.
  std::string Running() const;

  // Tells env's console of a call that has run for thresholdMs or longer
  // ("\nOPC call Read has not returned after 30 s"), once per call, and of
  // such a call's return ("\nOPC call Read returned after 95 s"). Called
  // now and then by a thread that never takes the session lock.
  void Report(platform::Env* env, int64_t thresholdMs);

 private:
  platform::Env* const clock_;
  // Guards every field below; held only for a few instructions, never during
  // a call to the server or while printing.
  mutable std::mutex mutex_;
  uint64_t lastToken_ = 0;
  uint64_t running_ = 0;  // the running call's token, 0 when none runs
  const char* name_ = "";
  int64_t startedNs_ = 0;
  uint64_t told_ = 0;  // the token of the call told as not returned
  const char* toldName_ = "";
  // Set by End for the told call: its time, for the line of its return.
  bool returnPending_ = false;
  int64_t returnedAfterNs_ = 0;
};

// Watches one call from construction to the end of the scope:
//   WatchedCall watched(session.calls, "AddItems");
class WatchedCall {
 public:
  WatchedCall(CallWatch& watch, const char* name) : watch_(watch), token_(watch.Begin(name)) {}
  ~WatchedCall() { watch_.End(token_); }
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

 private:
  CallWatch& watch_;
  const uint64_t token_;
};

// How long a call may run before the operator is told: 30 s, or three
// sampling intervals when that is longer.
int64_t CallWatchThresholdMs(int64_t sampleIntervalMs);
