#include "app/periodic_worker.h"

#include <limits>

#include "common/console_output.h"
#include "platform/clock.h"
#include "platform/thread.h"

struct PeriodicWorker::ThreadRecord {
  PeriodicWorker* worker;
  int32_t intervalMs;
  WorkerTask task;
};

PeriodicWorker::PeriodicWorker(ThreadStarter starter, Sleeper sleeper)
    : starter_(starter != nullptr ? starter : platform::StartDetachedThread),
      sleeper_(sleeper ? std::move(sleeper) : Sleeper(platform::SleepUntil)) {}

PeriodicWorker::~PeriodicWorker() { Stop(); }

bool PeriodicWorker::Start(int32_t intervalMs, WorkerTask task) {
  bool expected = true;
  if (!stopped_.compare_exchange_strong(expected, false)) return false;
  auto* record = new ThreadRecord{this, intervalMs, std::move(task)};
  if (!starter_([record] { Run(record); })) {
    delete record;
    stopped_.store(true);
    return false;
  }
  return true;
}

void PeriodicWorker::RequestStop() {
  if (!stopped_.load()) stopRequested_.store(true);
}

void PeriodicWorker::Stop() {
  {
    // Looked at under the lock: a thread that has just set stopped_ may
    // still be signalling ended_, and the worker must outlive that.
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopped_.load()) return;
  }
  bool expected = false;
  if (!stopWaiting_.compare_exchange_strong(expected, true)) return;
  stopRequested_.store(true);
  {
    std::unique_lock<std::mutex> hold(mutex_);
    ended_.wait(hold, [this] { return stopped_.load(); });
  }
  stopRequested_.store(false);
  stopWaiting_.store(false);
}

void PeriodicWorker::Run(ThreadRecord* record) {
  PeriodicWorker* worker = record->worker;
  const int64_t intervalNs = static_cast<int64_t>(record->intervalMs) * 1000000;
  while (!worker->stopRequested_.load()) {
    int64_t now = platform::MonotonicNanoseconds();
    int64_t deadline = now;
    if (intervalNs > 0) {
      deadline = now > std::numeric_limits<int64_t>::max() - intervalNs
                     ? std::numeric_limits<int64_t>::max()
                     : now + intervalNs;
    }
    worker->sleeper_(deadline);
    record->task();
  }
  delete record;
  std::lock_guard<std::mutex> hold(worker->mutex_);
  worker->stopped_.store(true);
  worker->ended_.notify_one();
}

bool StartWorker(PeriodicWorker* worker, const std::string& name, int32_t intervalMs,
                 WorkerTask task, platform::Env* env) {
  if (worker->Start(intervalMs, std::move(task))) return true;
  PrintErrorLine(env, "\nFailed to start the " + name + "!", false);
  return false;
}
