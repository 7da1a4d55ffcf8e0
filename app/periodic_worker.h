// A background thread that waits a fixed interval and then runs a task, over
// and over, until stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// The task a worker runs; the agent's tasks take no arguments of their own.
using WorkerTask = std::function<void()>;

class PeriodicWorker {
 public:
  PeriodicWorker() = default;
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

 private:
  struct ThreadRecord;
  static void Run(ThreadRecord* record);

  std::atomic<bool> stopped_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> stopWaiting_{false};  // true while a Stop waits for the thread
  // Guards the hand-over of stopped_ at the thread's end; ended_ is signalled
  // once the thread has set stopped_.
  std::mutex mutex_;
  std::condition_variable ended_;
};
