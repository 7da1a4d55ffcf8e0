#include "app/periodic_worker.h"

#include <chrono>
#include <limits>

#include "common/console_output.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

// One wait of a sleep towards a deadline that may lie far ahead: short
// enough that adding it to the clock never overflows.
std::chrono::nanoseconds WaitStep(int64_t leftNs) {
  constexpr int64_t kHourNs = 3600LL * 1000 * 1000 * 1000;
  return std::chrono::nanoseconds(leftNs < kHourNs ? leftNs : kHourNs);
}

}  // namespace

struct PeriodicWorker::ThreadRecord {
  PeriodicWorker* worker;
  int32_t intervalMs;
  WorkerTask task;
};

PeriodicWorker::PeriodicWorker(ThreadStarter starter, Sleeper sleeper)
    : starter_(starter != nullptr ? starter : platform::StartDetachedThread),
      sleeper_(std::move(sleeper)) {}

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
  {
    // Set under the lock, so that a sleep that has just found no request
    // is already waiting for wake_ when it is signalled.
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopped_.load()) return;
    stopRequested_.store(true);
  }
  wake_.notify_all();
}

bool PeriodicWorker::StopBefore(int64_t monotonicDeadlineNs) {
  RequestStop();
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopped_.load()) {
    const int64_t left = monotonicDeadlineNs - platform::MonotonicNanoseconds();
    if (left <= 0) return false;
    ended_.wait_for(hold, WaitStep(left));
  }
  // Ended: the worker may be started again, unless a Stop still waits and
  // clears the request itself.
  if (!stopWaiting_.load()) stopRequested_.store(false);
  return true;
}

void PeriodicWorker::SleepUnlessStopped(int64_t monotonicDeadlineNs) {
  std::unique_lock<std::mutex> hold(mutex_);
  while (!stopRequested_.load()) {
    const int64_t left = monotonicDeadlineNs - platform::MonotonicNanoseconds();
    if (left <= 0) return;
    wake_.wait_for(hold, WaitStep(left));
  }
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
  RequestStop();
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
    if (worker->sleeper_) {
      worker->sleeper_(deadline);
    } else {
      worker->SleepUnlessStopped(deadline);
    }
    record->task();
  }
  delete record;
  std::lock_guard<std::mutex> hold(worker->mutex_);
  worker->stopped_.store(true);
  worker->ended_.notify_all();
}

bool StopWorkersBefore(std::initializer_list<PeriodicWorker*> workers,
                       int64_t monotonicDeadlineNs) {
  for (PeriodicWorker* worker : workers) worker->RequestStop();
  bool allEnded = true;
  for (PeriodicWorker* worker : workers) {
    if (!worker->StopBefore(monotonicDeadlineNs)) allEnded = false;
  }
  return allEnded;
}

bool StartWorker(PeriodicWorker* worker, const std::string& name, int32_t intervalMs,
                 WorkerTask task, platform::Env* env) {
  if (worker->Start(intervalMs, std::move(task))) return true;
  PrintErrorLine(env, "\nFailed to start the " + name + "!", false);
  return false;
}
