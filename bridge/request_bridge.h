// The request bridge: carries API requests from HTTP connection threads to
// the single OPC worker thread and brings the answers back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "bridge/request_kinds.h"

constexpr int64_t kBridgeTimeoutMs = 10000;
// How long a tick waits for a request on an empty queue before it returns.
// The worker then wakes a few dozen times a second while idle, not a
// thousand, and a request that arrives meanwhile is taken at once.
constexpr int64_t kWorkerIdleWaitMs = 50;

class RequestBridge {
 public:
  explicit RequestBridge(BridgeOperations operations, int64_t timeoutMs = kBridgeTimeoutMs,
                         int64_t idleWaitMs = kWorkerIdleWaitMs);
  RequestBridge(const RequestBridge&) = delete;
  RequestBridge& operator=(const RequestBridge&) = delete;

  // Queues request under a fresh id and blocks (without spinning)
  // until the worker files a non-empty answer or more than the time limit has
  // passed. Returns the answer or "TimeOut". Any thread.
  std::string SubmitAndWait(BridgeRequest request);

  // Runs the queued requests on the calling thread, oldest first, each with
  // its kind's operation, then those that arrive while it waits: it returns
  // once the queue has stayed empty until the idle wait has passed since the
  // tick began (at once for an idle wait of 0), or after a request that ends
  // past that. Waits without spinning and without holding any lock. Called
  // by the one OPC worker.
  void OpcWorkerTick();

  // A request id: NowMilliseconds followed by a number from 1000 to 10998,
  // never equal to an id still in use. Any thread.
  std::string MakeRequestId();

  // Observers for tests and diagnostics. Any thread.
  // Waits until at least count requests are queued; false when timeoutMs
  // passed first.
  bool AwaitQueued(std::size_t count, int64_t timeoutMs);
  std::size_t QueuedCount();
  std::size_t AnswerCount();
  std::size_t WaitingCount();

 private:
  // The answer of request's operation; empty when there is none to run.
  std::string Run(const BridgeRequest& request) const;

  const BridgeOperations operations_;
  const int64_t timeoutMs_;
  const int64_t idleWaitMs_;

  // lock_ guards requestQueue_, answerTable_ and waitingIds_. It is never held
  // while an operation runs; a waiter sleeps on its own condition variable
  // with it released, so filing one answer wakes exactly one thread.
  std::mutex lock_;
  struct QueuedRequest {
    BridgeRequest request;
    std::string id;
  };
  std::deque<QueuedRequest> requestQueue_;
  // Signalled under lock_ when a request is queued; the idle worker (and
  // AwaitQueued) sleeps on it.
  std::condition_variable requestQueued_;
  std::map<std::string, std::string> answerTable_;
  // Ids whose waiter still waits, with the waiter's condition variable (null
  // between MakeRequestId and the wait). An answer for an id not in here has
  // lost its waiter and is dropped instead of filed, so answerTable_ cannot grow.
  std::map<std::string, std::condition_variable*> waitingIds_;
  std::atomic<bool> busy_{false};
};
