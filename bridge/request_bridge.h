// The request bridge: carries API requests from HTTP connection threads to
// the single OPC worker thread and brings the answers back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "bridge/request_kinds.h"

constexpr int64_t kBridgeTimeoutMs = 10000;
// A write whose call to the server has begun when its waiter's limit passes
// is waited for this much longer: it is going to reach the device, and a
// client told TimeOut must be able to take it that nothing was written. Only
// a call that hangs past this is answered TimeOut, its late answer dropped.
constexpr int64_t kBridgeCallGraceMs = 10000;
// At most this many requests wait in the queue; a request that finds it full
// is answered kBusyAnswer at once. Well below the HTTP server's connection
// threads, so a stalled server leaves threads for the status request.
constexpr std::size_t kBridgeQueueLimit = 32;
// How long a tick waits for a request on an empty queue before it returns.
// The worker then wakes a few dozen times a second while idle, not a
// thousand, and a request that arrives meanwhile is taken at once.
constexpr int64_t kWorkerIdleWaitMs = 50;

// The bridge's own answers, beside those of the operations.
constexpr char kTimeOutAnswer[] = "TimeOut";
constexpr char kBusyAnswer[] = "Busy";

class RequestBridge {
 public:
  explicit RequestBridge(BridgeOperations operations, int64_t timeoutMs = kBridgeTimeoutMs,
                         int64_t idleWaitMs = kWorkerIdleWaitMs,
                         std::size_t queueLimit = kBridgeQueueLimit,
                         int64_t callGraceMs = kBridgeCallGraceMs);
  RequestBridge(const RequestBridge&) = delete;
  RequestBridge& operator=(const RequestBridge&) = delete;

  // Queues request under a fresh id and blocks (without spinning) until the
  // worker files a non-empty answer or more than the time limit has passed.
  // Returns the answer, kBusyAnswer at once when the queue is full, or
  // kTimeOutAnswer. A request that times out never runs later: it leaves the
  // queue, and one the worker has taken but not begun is not begun. Any thread.
  std::string SubmitAndWait(BridgeRequest request);

  // Runs the queued requests on the calling thread, oldest first, each with
  // its kind's operation under the table's call lock, then those that arrive
  // while it waits: it returns once the queue has stayed empty until the idle
  // wait has passed since the tick began (at once for an idle wait of 0), or
  // after a request that ends past that. Waits without spinning and without
  // holding the bridge's lock. Called by the one OPC worker.
  void OpcWorkerTick();

  // A request id: NowMilliseconds followed by a number from 1000 to 10998,
  // never equal to an id still in use. Any thread.
  std::string MakeRequestId();

  // Observers for tests and diagnostics. Any thread.
  // Wait until at least (at most) count requests are queued; false when
  // timeoutMs passed first.
  bool AwaitQueued(std::size_t count, int64_t timeoutMs);
  bool AwaitQueuedAtMost(std::size_t count, int64_t timeoutMs);
  std::size_t QueuedCount();
  std::size_t AnswerCount();
  std::size_t WaitingCount();

 private:
  struct QueuedRequest {
    BridgeRequest request;
    std::string id;
  };
  // Runs one request taken off the queue, unless its waiter has left by the
  // time the call lock is held, and files its answer. Called with guard
  // holding lock_, which it lets go meanwhile and holds again on return.
  void RunTaken(const QueuedRequest& taken, std::unique_lock<std::mutex>* guard);
  // The operation that serves request; null when there is none to run.
  const BridgeOperation* OperationOf(const BridgeRequest& request) const;

  const BridgeOperations operations_;
  const int64_t timeoutMs_;
  const int64_t idleWaitMs_;
  const std::size_t queueLimit_;
  const int64_t callGraceMs_;

  // lock_ guards requestQueue_, answerTable_, waitingIds_ and callingId_. It
  // is never held while an operation runs, nor taken before the call lock
  // while held; a waiter sleeps on its own condition variable with it
  // released, so filing one answer wakes exactly one thread.
  std::mutex lock_;
  std::deque<QueuedRequest> requestQueue_;
  // Signalled under lock_ whenever requestQueue_ changes; the idle worker
  // and the observers sleep on it.
  std::condition_variable queueChanged_;
  std::map<std::string, std::string> answerTable_;
  // Ids whose waiter still waits, with the waiter's condition variable (null
  // between MakeRequestId and the wait). An answer for an id not in here has
  // lost its waiter and is dropped instead of filed, so answerTable_ cannot grow.
  std::map<std::string, std::condition_variable*> waitingIds_;
  // The id whose operation is calling the server now; empty when none.
  std::string callingId_;
  std::atomic<bool> busy_{false};
};
