#include "bridge/request_bridge.h"

#include <algorithm>
#include <ctime>
#include <random>

#include "common/text_helpers.h"

RequestBridge::RequestBridge(BridgeOperations operations, int64_t timeoutMs, int64_t idleWaitMs,
                             std::size_t queueLimit, int64_t callGraceMs)
    : operations_(std::move(operations)),
      timeoutMs_(timeoutMs),
      idleWaitMs_(idleWaitMs),
      queueLimit_(queueLimit),
      callGraceMs_(callGraceMs) {}

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
  const auto callDeadline = deadline + std::chrono::milliseconds(callGraceMs_);
  const bool awaitsCallEnd = request.kind != nullptr && request.kind->changesServer;
  std::condition_variable answered;
  std::unique_lock<std::mutex> guard(lock_);
  if (requestQueue_.size() >= queueLimit_) {
    waitingIds_.erase(id);
    return kBusyAnswer;
  }
  waitingIds_[id] = &answered;
  requestQueue_.push_back(QueuedRequest{std::move(request), id});
  queueChanged_.notify_all();
  std::string answer;
  for (;;) {
    auto found = answerTable_.find(id);
    if (found != answerTable_.end() && !found->second.empty()) {
      answer = found->second;
      break;
    }
    const auto limit = awaitsCallEnd && callingId_ == id ? callDeadline : deadline;
    // The limit is inclusive: TimeOut only once more than timeoutMs passed.
    if (std::chrono::steady_clock::now() > limit) {
      answer = kTimeOutAnswer;
      break;
    }
    answered.wait_until(guard, limit + std::chrono::milliseconds(1));
  }
  // Withdrawn if still queued; a request already taken finds its waiter gone.
  auto queued = std::find_if(requestQueue_.begin(), requestQueue_.end(),
                             [&id](const QueuedRequest& entry) { return entry.id == id; });
  if (queued != requestQueue_.end()) {
    requestQueue_.erase(queued);
    queueChanged_.notify_all();
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
  // next tick. lock_ is let go while an operation runs, and the call lock is
  // taken for each operation alone, so the sampler and the supervisor get
  // their turn between two requests. Under a steady stream the tick still
  // ends once the idle wait has passed, so a stop is seen between ticks.
  const auto tickEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(idleWaitMs_);
  std::unique_lock<std::mutex> guard(lock_);
  // The requests queued when the tick began are served whatever the time.
  std::size_t owed = requestQueue_.size();
  for (;;) {
    if (requestQueue_.empty() &&
        (idleWaitMs_ <= 0 ||
         !queueChanged_.wait_until(guard, tickEnd, [this] { return !requestQueue_.empty(); }))) {
      break;
    }
    QueuedRequest taken = std::move(requestQueue_.front());
    requestQueue_.pop_front();
    queueChanged_.notify_all();
    RunTaken(taken, &guard);
    if (owed > 0) --owed;
    if (owed == 0 && std::chrono::steady_clock::now() >= tickEnd) break;
  }
  guard.unlock();
  busy_.store(false);
}

void RequestBridge::RunTaken(const QueuedRequest& taken, std::unique_lock<std::mutex>* guard) {
  std::string answer;
  if (const BridgeOperation* operation = OperationOf(taken.request)) {
    guard->unlock();
    // The call lock first, then lock_ for the look: a waiter that gave up
    // while the sampler held the session is seen here, and its request is
    // not begun at all.
    std::unique_lock<std::mutex> call;
    if (operations_.callLock != nullptr) call = std::unique_lock<std::mutex>(*operations_.callLock);
    guard->lock();
    const bool wanted = waitingIds_.count(taken.id) > 0;
    if (wanted) callingId_ = taken.id;
    guard->unlock();
    if (wanted) {
      answer = (*operation)(taken.request.group, taken.request.item, taken.request.argument);
    }
    if (call.owns_lock()) call.unlock();
    guard->lock();
    callingId_.clear();
  }
  auto waiter = waitingIds_.find(taken.id);
  if (waiter == waitingIds_.end()) return;
  if (!answer.empty()) answerTable_[taken.id] = std::move(answer);
  // Woken for an empty answer too: a waiter past its limit that waited for
  // the call to end gives up at once.
  if (waiter->second) waiter->second->notify_one();
}

const BridgeOperation* RequestBridge::OperationOf(const BridgeRequest& request) const {
  if (request.kind == nullptr) return nullptr;
  const BridgeOperation& operation = operations_.*(request.kind->operation);
  return operation ? &operation : nullptr;
}

bool RequestBridge::AwaitQueued(std::size_t count, int64_t timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return queueChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return requestQueue_.size() >= count; });
}

bool RequestBridge::AwaitQueuedAtMost(std::size_t count, int64_t timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return queueChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return requestQueue_.size() <= count; });
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
