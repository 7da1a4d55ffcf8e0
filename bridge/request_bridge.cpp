#include "bridge/request_bridge.h"

#include <ctime>
#include <random>

#include "common/text_helpers.h"

RequestBridge::RequestBridge(BridgeOperations operations, int64_t timeoutMs, int64_t idleWaitMs)
    : operations_(std::move(operations)), timeoutMs_(timeoutMs), idleWaitMs_(idleWaitMs) {}

std::string RequestBridge::MakeRequestId() {
  // The suffix is drawn from a generator seeded with the calendar second, so
  // ids of one second share it and differ by their milliseconds; ids that
  // would still collide with one in use step the suffix on.
  std::minstd_rand generator(static_cast<unsigned>(std::time(nullptr)));
  int suffix = static_cast<int>(generator() % 32768) % 9999 + 1000;
  int64_t now = NowMilliseconds();
  std::lock_guard<std::mutex> guard(lock_);
  for (;;) {
    std::string id = FormatText("%lld%d", static_cast<long long>(now), suffix);
    if (waitingIds_.count(id) == 0 && answerTable_.count(id) == 0) {
      // Reserved here, under the same lock as the check.
      waitingIds_[id] = nullptr;
      return id;
    }
    if (++suffix > 10998) {
      suffix = 1000;
      ++now;
    }
  }
}

std::string RequestBridge::SubmitAndWait(BridgeRequest request) {
  const std::string id = MakeRequestId();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  std::condition_variable answered;
  std::unique_lock<std::mutex> guard(lock_);
  waitingIds_[id] = &answered;
  requestQueue_.push_back(QueuedRequest{std::move(request), id});
  requestQueued_.notify_all();
  std::string answer;
  for (;;) {
    auto found = answerTable_.find(id);
    if (found != answerTable_.end() && !found->second.empty()) {
      answer = found->second;
      break;
    }
    // The limit is inclusive: TimeOut only once more than timeoutMs passed.
    if (std::chrono::steady_clock::now() > deadline) {
      answer = "TimeOut";
      break;
    }
    answered.wait_until(guard, deadline + std::chrono::milliseconds(1));
  }
  answerTable_.erase(id);
  waitingIds_.erase(id);
  return answer;
}

void RequestBridge::OpcWorkerTick() {
  if (busy_.exchange(true)) return;
  // Every request queued is run, one after another in arrival order, and so
  // is every one that arrives while the tick waits, until the queue has been
  // empty for the idle wait: a waiter is served at once instead of at the
  // next tick. lock_ is let go while an operation runs, and each operation
  // takes the session lock for itself, so the sampler and the supervisor get
  // their turn between two requests. Under a steady stream the tick still
  // ends once the idle wait has passed, so a stop is seen between ticks.
  const auto tickEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleWaitMs_);
  std::unique_lock<std::mutex> guard(lock_);
  // The requests queued when the tick began are served whatever the time.
  std::size_t owed = requestQueue_.size();
  for (;;) {
    if (requestQueue_.empty() &&
        (idleWaitMs_ <= 0 ||
         !requestQueued_.wait_until(guard, tickEnd, [this] { return !requestQueue_.empty(); }))) {
      break;
    }
    QueuedRequest taken = std::move(requestQueue_.front());
    requestQueue_.pop_front();
    guard.unlock();
    std::string answer = Run(taken.request);
    guard.lock();
    auto waiter = waitingIds_.find(taken.id);
    if (!answer.empty() && waiter != waitingIds_.end()) {
      answerTable_[taken.id] = std::move(answer);
      if (waiter->second) waiter->second->notify_one();
    }
    if (owed > 0) --owed;
    if (owed == 0 && std::chrono::steady_clock::now() >= tickEnd) break;
  }
  guard.unlock();
  busy_.store(false);
}

std::string RequestBridge::Run(const BridgeRequest& request) const {
  if (request.kind == nullptr) return std::string();
  const BridgeOperation& operation = operations_.*(request.kind->operation);
  return operation ? operation(request.group, request.item, request.argument) : std::string();
}

bool RequestBridge::AwaitQueued(std::size_t count, int64_t timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return requestQueued_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [&] { return requestQueue_.size() >= count; });
}

std::size_t RequestBridge::QueuedCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return requestQueue_.size();
}

std::size_t RequestBridge::AnswerCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return answerTable_.size();
}

std::size_t RequestBridge::WaitingCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return waitingIds_.size();
}
