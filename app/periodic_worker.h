// A background thread that waits a fixed interval and then runs a task, over
// and over, until stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/env.h"

// The task a worker runs; the agent's tasks take no arguments of their own.
using WorkerTask = std::function<void()>;

// Starts a thread that runs body; false when none could be created.
using ThreadStarter = bool (*)(std::function<void()> body);
// Sleeps until a monotonic deadline in nanoseconds.
using Sleeper = std::function<void(int64_t monotonicDeadlineNs)>;

class PeriodicWorker {
 public:
  // Threads come from starter and sleep through sleeper (the platform's
  // unless a test hands in its own: one that fails, one that tells when the
  // thread sleeps).
  explicit PeriodicWorker(ThreadStarter starter = nullptr, Sleeper sleeper = nullptr);
  ~PeriodicWorker();
  PeriodicWorker(const PeriodicWorker&) = delete;
  PeriodicWorker& operator=(const PeriodicWorker&) = delete;

  // Starts the thread: the task first runs one interval after Start (at once
  // for an interval of 0 or less), then one interval after each run ends.
  // Does nothing while a thread runs. False when no thread could be created.
  bool Start(int32_t intervalMs, WorkerTask task);

  // Asks the thread to end and waits until it has. The request is seen before
  // each sleep, so Stop waits for at most one interval and one run of the task.
  // Returns at once when idle or while another Stop waits. Must not be called
  // from the worker's own task.
  void Stop();

  // Asks the thread to end without waiting; a later Stop waits for the end.
  // Lets a caller stop several workers at once and then wait for each.
  void RequestStop();

  bool IsRunning() const { return !stopped_.load(); }

  // True from a stop request until the thread has ended; a long task looks
  // at it to end early.
  bool StopRequested() const { return stopRequested_.load(); }

 private:
  struct ThreadRecord;
  static void Run(ThreadRecord* record);

  const ThreadStarter starter_;
  const Sleeper sleeper_;

  std::atomic<bool> stopped_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> stopWaiting_{false};  // true while a Stop waits for the thread
  // Guards the hand-over of stopped_ at the thread's end; ended_ is signalled
  // once the thread has set stopped_.
  std::mutex mutex_;
  std::condition_variable ended_;
};

// Starts worker and, when its thread cannot be created, tells the operator
// which worker is missing ("\nFailed to start the sampler!"): an agent that
// never samples or never reconnects must not look healthy.
bool StartWorker(PeriodicWorker* worker, const std::string& name, int32_t intervalMs,
                 WorkerTask task, platform::Env* env);
