#include "bridge/request_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

namespace {

// Records the calls the worker makes and answers with a fixed text.
struct FakeOperations {
  std::mutex mutex;  // guards calls
  std::vector<std::string> calls;
  std::string answer = "[]";

  BridgeOperation Make(const char* name) {
    return [this, name](const std::string& g, const std::string& i, const std::string& t) {
      std::lock_guard<std::mutex> guard(mutex);
      calls.push_back(std::string(name) + "(" + g + "," + i + "," + t + ")");
      return answer;
    };
  }
  BridgeOperations Table() { return BridgeOperations{Make("read"), Make("write"), Make("list")}; }
};

BridgeRequest Request(const RequestKind* kind, const std::string& argument = "t") {
  return BridgeRequest{kind, "G", "I", argument};
}

// Ticks the bridge on its own thread until destroyed, like the OPC worker.
// An idle tick waits on the bridge for a request, so the loop does not spin.
class Worker {
 public:
  explicit Worker(RequestBridge* bridge)
      : thread_([this, bridge] {
          while (!stop_.load()) bridge->OpcWorkerTick();
        }) {}
  ~Worker() {
    stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(RequestBridge, AnswerIsReturnedExactlyAndTheEntryRemoved) {
  FakeOperations fake;
  fake.answer = "[{\"i\":\"x\"}]";
  RequestBridge bridge(fake.Table());
  Worker worker(&bridge);
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kReadKind, "a,b")), "[{\"i\":\"x\"}]");
  EXPECT_EQ(bridge.AnswerCount(), 0u);
  EXPECT_EQ(bridge.WaitingCount(), 0u);
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls[0], "read(G,I,a,b)");
}

TEST(RequestBridge, EachKindRunsItsOperationWithItsThirdKey) {
  FakeOperations fake;
  RequestBridge bridge(fake.Table());
  Worker worker(&bridge);
  bridge.SubmitAndWait(BridgeRequest{&kWriteKind, "g", "i", "k:1"});
  bridge.SubmitAndWait(BridgeRequest{&kListKind, "g", "i", "L"});
  ASSERT_EQ(fake.calls.size(), 2u);
  EXPECT_EQ(fake.calls[0], "write(g,i,k:1)");
  EXPECT_EQ(fake.calls[1], "list(g,i,L)");
}

TEST(RequestBridge, TimedOutRequestIsWithdrawnAndNeverRuns) {
  FakeOperations fake;
  RequestBridge bridge(fake.Table(), 150);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kWriteKind)), "TimeOut");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(bridge.QueuedCount(), 0u);
  bridge.OpcWorkerTick();
  // The worker, started late, finds nothing to write.
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(bridge.AnswerCount(), 0u);
  EXPECT_EQ(bridge.WaitingCount(), 0u);
}

TEST(RequestBridge, RequestWhoseWaiterLeftWhileTheCallLockWasHeldIsNotBegun) {
  // The sampler holds the session: the worker has taken the write and waits
  // for the lock while the waiter gives up.
  FakeOperations fake;
  std::mutex session;
  BridgeOperations table = fake.Table();
  table.callLock = &session;
  RequestBridge bridge(table, 100, 0);
  std::unique_lock<std::mutex> sampler(session);
  std::string answer;
  std::thread waiter([&] { answer = bridge.SubmitAndWait(Request(&kWriteKind)); });
  ASSERT_TRUE(bridge.AwaitQueued(1, 10000));
  std::thread tick([&bridge] { bridge.OpcWorkerTick(); });
  ASSERT_TRUE(bridge.AwaitQueuedAtMost(0, 10000));
  waiter.join();
  EXPECT_EQ(answer, "TimeOut");
  sampler.unlock();
  tick.join();
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(bridge.AnswerCount(), 0u);
}

TEST(RequestBridge, CallThatOutlastsTheLimit) {
  // A call of 300 ms against a limit of 100 ms. A write that has reached the
  // server is waited for within the grace, so TimeOut never hides a write
  // that happened; a read's waiter, or a write's past the grace, gives up and
  // the late answer is dropped.
  struct Case {
    const RequestKind* kind;
    int64_t graceMs;
    std::string answer;
  } cases[] = {
      {&kWriteKind, 10000, "ok"},
      {&kWriteKind, 0, "TimeOut"},
      {&kReadKind, 10000, "TimeOut"},
  };
  for (const Case& c : cases) {
    int calls = 0;
    BridgeOperation slow = [&calls](const std::string&, const std::string&, const std::string&) {
      ++calls;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      return std::string("ok");
    };
    RequestBridge bridge(BridgeOperations{slow, slow, slow}, 100, 0, kBridgeQueueLimit, c.graceMs);
    std::string answer;
    std::thread waiter([&] { answer = bridge.SubmitAndWait(Request(c.kind)); });
    ASSERT_TRUE(bridge.AwaitQueued(1, 10000));
    bridge.OpcWorkerTick();
    waiter.join();
    EXPECT_EQ(answer, c.answer) << c.kind->code << " grace " << c.graceMs;
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(bridge.AnswerCount(), 0u);
    EXPECT_EQ(bridge.WaitingCount(), 0u);
  }
}

TEST(RequestBridge, FullQueueAnswersBusyAtOnce) {
  FakeOperations fake;
  RequestBridge bridge(fake.Table(), 10000, 0, 2);
  std::vector<std::thread> waiters;
  std::vector<std::string> answers(2);
  for (int n = 0; n < 2; ++n) {
    waiters.emplace_back([&, n] { answers[n] = bridge.SubmitAndWait(Request(&kReadKind)); });
    ASSERT_TRUE(bridge.AwaitQueued(static_cast<std::size_t>(n + 1), 10000));
  }
  // The worker has not run: the third request would wait the full limit.
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kWriteKind, "third")), "Busy");
  EXPECT_EQ(bridge.QueuedCount(), 2u);
  EXPECT_EQ(bridge.WaitingCount(), 2u);
  bridge.OpcWorkerTick();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(answers, (std::vector<std::string>{"[]", "[]"}));
  EXPECT_EQ(fake.calls.size(), 2u);
  // Room again: the next request is queued and served.
  Worker worker(&bridge);
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kReadKind)), "[]");
}

TEST(RequestBridge, DefaultLimitIsTenSeconds) { EXPECT_EQ(kBridgeTimeoutMs, 10000); }

TEST(RequestBridge, RequestWithoutOperationIsRemovedAndTimesOut) {
  // No kind, and a kind whose operation the table leaves empty.
  for (const RequestKind* kind : {static_cast<const RequestKind*>(nullptr), &kListKind}) {
    FakeOperations fake;
    BridgeOperations table = fake.Table();
    table.list = nullptr;
    RequestBridge bridge(table, 100);
    std::thread waiter([&] { EXPECT_EQ(bridge.SubmitAndWait(Request(kind)), "TimeOut"); });
    EXPECT_TRUE(bridge.AwaitQueued(1, 10000));
    bridge.OpcWorkerTick();
    EXPECT_EQ(bridge.QueuedCount(), 0u);
    waiter.join();
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(bridge.AnswerCount(), 0u);
  }
}

TEST(RequestKinds, TableOfTheApi) {
  EXPECT_EQ(FindRequestKind(30), &kReadKind);
  EXPECT_EQ(FindRequestKind(40), &kWriteKind);
  EXPECT_EQ(FindRequestKind(50), &kListKind);
  for (long other : {0L, 10L, 20L, 31L, -30L}) EXPECT_EQ(FindRequestKind(other), nullptr) << other;
  EXPECT_STREQ(kReadKind.argumentKey, "tags");
  EXPECT_STREQ(kWriteKind.argumentKey, "tagkvs");
  EXPECT_STREQ(kListKind.argumentKey, "filters");
  EXPECT_EQ(kWriteKind.envelope, AnswerEnvelope::kWrite);
  EXPECT_EQ(kListKind.envelope, AnswerEnvelope::kData);
}

TEST(RequestBridge, EmptyAnswerMeansTimeOut) {
  FakeOperations fake;
  fake.answer = "";
  RequestBridge bridge(fake.Table(), 100);
  Worker worker(&bridge);
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kReadKind)), "TimeOut");
  EXPECT_EQ(fake.calls.size(), 1u);
}

TEST(RequestBridge, OneTickRunsEveryQueuedRequestInArrivalOrder) {
  FakeOperations fake;
  RequestBridge bridge(fake.Table(), 5000, 0);
  std::vector<std::thread> waiters;
  for (int n = 0; n < 3; ++n) {
    waiters.emplace_back(
        [&bridge, n] { bridge.SubmitAndWait(Request(&kReadKind, std::to_string(n))); });
    EXPECT_TRUE(bridge.AwaitQueued(static_cast<std::size_t>(n + 1), 10000));
  }
  bridge.OpcWorkerTick();
  EXPECT_EQ(bridge.QueuedCount(), 0u);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"read(G,I,0)", "read(G,I,1)", "read(G,I,2)"}));
}

TEST(RequestBridge, OperationsRunWithoutTheBridgeLockHeld) {
  // Each operation submits nothing but looks at the queue, which needs the
  // bridge's lock: a tick that held it while running would never return.
  RequestBridge* self = nullptr;
  std::vector<std::size_t> queuedSeen;
  BridgeOperation look = [&](const std::string&, const std::string&, const std::string&) {
    queuedSeen.push_back(self->QueuedCount());
    return std::string("[]");
  };
  RequestBridge bridge(BridgeOperations{look, look, look}, 5000, 0);
  self = &bridge;
  std::vector<std::thread> waiters;
  for (int n = 0; n < 2; ++n) {
    waiters.emplace_back([&bridge] { bridge.SubmitAndWait(Request(&kReadKind)); });
    EXPECT_TRUE(bridge.AwaitQueued(static_cast<std::size_t>(n + 1), 10000));
  }
  bridge.OpcWorkerTick();
  for (auto& waiter : waiters) waiter.join();
  // The second request was still queued while the first ran.
  EXPECT_EQ(queuedSeen, (std::vector<std::size_t>{1, 0}));
}

TEST(RequestBridge, OneTickServesRequestsThatArriveWhileItWaits) {
  FakeOperations fake;
  // A request this tick does not serve times out long before the tick ends.
  RequestBridge bridge(fake.Table(), 500, 2000);
  // One tick started on an empty queue, and no other: it must run both
  // requests, the second arriving after the first was answered.
  std::thread tick([&bridge] { bridge.OpcWorkerTick(); });
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kReadKind, "first")), "[]");
  EXPECT_EQ(bridge.SubmitAndWait(Request(&kReadKind, "second")), "[]");
  tick.join();
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"read(G,I,first)", "read(G,I,second)"}));
  EXPECT_EQ(bridge.QueuedCount(), 0u);
}

TEST(RequestBridge, IdsAreUniqueWhileInUseAndWellFormed) {
  FakeOperations fake;
  RequestBridge bridge(fake.Table());
  std::set<std::string> ids;
  const std::regex shape("[0-9]{13}[0-9]{4,5}");
  for (int n = 0; n < 2000; ++n) {
    std::string id = bridge.MakeRequestId();
    EXPECT_TRUE(std::regex_match(id, shape)) << id;
    EXPECT_TRUE(ids.insert(id).second) << "repeated " << id;
  }
}

TEST(RequestBridge, ConcurrentWaitersEachGetTheirOwnAnswer) {
  // Each answer names its own request, so a shared id would show as a mix-up.
  BridgeOperation echo = [](const std::string&, const std::string&, const std::string& tags) {
    return "[" + tags + "]";
  };
  RequestBridge bridge(BridgeOperations{echo, echo, echo});
  Worker worker(&bridge);
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 20; ++n) {
        std::string mine = std::to_string(t * 100 + n);
        if (bridge.SubmitAndWait(Request(&kReadKind, mine)) != "[" + mine + "]") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(bridge.AnswerCount(), 0u);
}

}  // namespace
