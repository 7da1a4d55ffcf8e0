// A background thread that waits a fixed interval and then runs a task, over
// and over, until stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
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
  // thread sleeps). The worker's own sleep ends early when a stop is asked
  // for; a sleeper handed in sleeps to its deadline.
  explicit PeriodicWorker(ThreadStarter starter = nullptr, Sleeper sleeper = nullptr);
  ~PeriodicWorker();
  PeriodicWorker(const PeriodicWorker&) = delete;
  PeriodicWorker& operator=(const PeriodicWorker&) = delete;

  // Starts the thread: the task first runs one interval after Start (at once
  // for an interval of 0 or less), then one interval after each run ends.
  // Does nothing while a thread runs. False when no thread could be created.
  bool Start(int32_t intervalMs, WorkerTask task);

  // Asks the thread to end and waits until it has. The request ends the
  // sleep and is seen before the next, so Stop waits for one more run of the
  // task (at most one interval as well with a sleeper handed in).
  // Returns at once when idle or while another Stop waits. Must not be called
  // from the worker's own task.
  void Stop();

  // Asks the thread to end without waiting; a later Stop waits for the end.
  // Lets a caller stop several workers at once and then wait for each.
  void RequestStop();

  // Asks the thread to end and waits for it until the monotonic clock reaches
  // deadlineNs. True when no thread runs any more; false when the task is
  // still running then (a call that does not return), and the thread is left
  // to end by itself or with the process.
  bool StopBefore(int64_t monotonicDeadlineNs);

  bool IsRunning() const { return !stopped_.load(); }

  // True from a stop request until the thread has ended; a long task looks
  // at it to end early.
  bool StopRequested() const { return stopRequested_.load(); }

 private:
  struct ThreadRecord;
  static void Run(ThreadRecord* record);
  // The worker's own sleep: until deadline or a stop request.
  void SleepUnlessStopped(int64_t monotonicDeadlineNs);

  const ThreadStarter starter_;
  const Sleeper sleeper_;

  std::atomic<bool> stopped_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> stopWaiting_{false};  // true while a Stop waits for the thread
  // Guards the hand-over of stopped_ at the thread's end and the sleep's look
  // at stopRequested_; ended_ is signalled once the thread has set stopped_,
  // wake_ when a stop is asked for.
  std::mutex mutex_;
  std::condition_variable ended_;
  std::condition_variable wake_;
};

// Stops workers within one time bound: every one is asked at once, so their
// last runs go side by side, then each is awaited until the monotonic clock
// reaches deadlineNs. True when all have ended; false when one is still in
// its task (a call to a server that does not return), which is then left to
// the end of the process.
bool StopWorkersBefore(std::initializer_list<PeriodicWorker*> workers, int64_t monotonicDeadlineNs);

// Starts worker and, when its thread cannot be created, tells the operator
// which worker is missing ("\nFailed to start the sampler!"): an agent that
// never samples or never reconnects must not look healthy.
bool StartWorker(PeriodicWorker* worker, const std::string& name, int32_t intervalMs,
                 WorkerTask task, platform::Env* env);
