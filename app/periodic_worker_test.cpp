#include "app/periodic_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "tests/support/recording_env.h"

namespace {

int64_t NowMs() { return platform::MonotonicNanoseconds() / 1000000; }

// Records the times of task runs and lets a test await a number of them.
class RunLog {
 public:
  void Record() {
    std::lock_guard<std::mutex> hold(mutex_);
    times_.push_back(NowMs());
    changed_.notify_all();
  }
  bool AwaitRuns(std::size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [&] { return times_.size() >= count; });
  }
  std::vector<int64_t> Times() {
    std::lock_guard<std::mutex> hold(mutex_);
    return times_;
  }

 private:
  std::mutex mutex_;  // guards times_
  std::condition_variable changed_;
  std::vector<int64_t> times_;
};

TEST(PeriodicWorker, FirstRunComesOneIntervalAfterStart) {
  RunLog log;
  PeriodicWorker worker;
  int64_t started = NowMs();
  ASSERT_TRUE(worker.Start(200, [&] { log.Record(); }));
  ASSERT_TRUE(log.AwaitRuns(1, 5000));
  EXPECT_GE(log.Times()[0] - started, 195);
  worker.Stop();
  EXPECT_FALSE(worker.IsRunning());
}

TEST(PeriodicWorker, PeriodIsIntervalPlusTaskTime) {
  RunLog log;
  PeriodicWorker worker;
  ASSERT_TRUE(worker.Start(100, [&] {
    log.Record();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // the task's own work
  }));
  ASSERT_TRUE(log.AwaitRuns(3, 5000));
  worker.Stop();
  std::vector<int64_t> times = log.Times();
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 155);
}

TEST(PeriodicWorker, ZeroIntervalRunsBackToBack) {
  RunLog log;
  PeriodicWorker worker;
  ASSERT_TRUE(worker.Start(0, [&] { log.Record(); }));
  ASSERT_TRUE(log.AwaitRuns(1000, 5000));
  worker.Stop();
  std::size_t after = log.Times().size();
  // A run that came after Stop returned would show within this window.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(log.Times().size(), after) << "no run after Stop returned";
}

TEST(PeriodicWorker, StopWhenIdleAndTwiceReturnsAtOnce) {
  PeriodicWorker never;
  int64_t before = NowMs();
  never.Stop();
  never.Stop();
  EXPECT_LT(NowMs() - before, 50);
}

TEST(PeriodicWorker, SecondStartIsIgnoredAndRestartWorks) {
  RunLog first;
  RunLog second;
  PeriodicWorker worker;
  ASSERT_TRUE(worker.Start(10, [&] { first.Record(); }));
  EXPECT_FALSE(worker.Start(10, [&] { second.Record(); }));
  ASSERT_TRUE(first.AwaitRuns(2, 5000));
  worker.Stop();
  EXPECT_TRUE(second.Times().empty());
  ASSERT_TRUE(worker.Start(10, [&] { second.Record(); }));
  ASSERT_TRUE(second.AwaitRuns(1, 5000));
  worker.Stop();
}

TEST(PeriodicWorker, StopDuringSleepWaitsForOneMoreRun) {
  RunLog log;
  RunLog sleeps;
  PeriodicWorker worker(nullptr, [&](int64_t deadline) {
    sleeps.Record();
    platform::SleepUntil(deadline);
  });
  ASSERT_TRUE(worker.Start(300, [&] { log.Record(); }));
  // The second sleep begins after the first run: the thread now sleeps
  // towards its second run, past the point where it looks for a stop.
  ASSERT_TRUE(sleeps.AwaitRuns(2, 5000));
  int64_t stopAsked = NowMs();
  worker.Stop();
  EXPECT_GE(NowMs() - stopAsked, 240);
  EXPECT_EQ(log.Times().size(), 2u);
}

TEST(PeriodicWorker, RequestedStopsOfSeveralWorkersOverlap) {
  RunLog a;
  RunLog b;
  PeriodicWorker first;
  PeriodicWorker second;
  ASSERT_TRUE(first.Start(400, [&] { a.Record(); }));
  ASSERT_TRUE(second.Start(400, [&] { b.Record(); }));
  ASSERT_TRUE(a.AwaitRuns(1, 5000));
  ASSERT_TRUE(b.AwaitRuns(1, 5000));
  int64_t asked = NowMs();
  first.RequestStop();
  second.RequestStop();
  first.Stop();
  second.Stop();
  // Both sleeps ran out side by side: well under two intervals in all.
  EXPECT_LT(NowMs() - asked, 700);
  EXPECT_FALSE(first.IsRunning());
  EXPECT_FALSE(second.IsRunning());
}

bool RefuseThreads(std::function<void()>) { return false; }

TEST(PeriodicWorker, AWorkerWhoseThreadCannotStartIsNamedOnTheConsole) {
  platform::RecordingConsoleEnv console;
  PeriodicWorker worker(RefuseThreads);
  bool ran = false;
  EXPECT_FALSE(StartWorker(
      &worker, "sampler", 10, [&] { ran = true; }, &console));
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_FALSE(ran);
  EXPECT_EQ(console.Printed(), "\nFailed to start the sampler!");

  // The same worker starts once threads can be had again, and says nothing.
  PeriodicWorker healthy;
  RunLog log;
  EXPECT_TRUE(StartWorker(
      &healthy, "uploader", 1, [&] { log.Record(); }, &console));
  EXPECT_TRUE(log.AwaitRuns(1, 5000));
  healthy.Stop();
  EXPECT_EQ(console.Printed(), "\nFailed to start the sampler!");
}

// A task that stands for a call to a server that does not return: it
// blocks until the test lets it go.
class HungCall {
 public:
  void Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return released_; });
  }
  bool AwaitEntered() {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::seconds(20), [this] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;  // guards entered_ and released_
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

int64_t MsFromNow(int64_t ms) { return platform::MonotonicNanoseconds() + ms * 1000000; }

TEST(PeriodicWorker, ABoundedStopGivesUpOnAHungTaskAndStopsTheOthers) {
  HungCall call;
  RunLog healthyRuns;
  PeriodicWorker hung;
  PeriodicWorker healthy;
  ASSERT_TRUE(hung.Start(1, [&] { call.Run(); }));
  ASSERT_TRUE(healthy.Start(1, [&] { healthyRuns.Record(); }));
  ASSERT_TRUE(call.AwaitEntered());
  ASSERT_TRUE(healthyRuns.AwaitRuns(1, 5000));

  EXPECT_FALSE(StopWorkersBefore({&hung, &healthy}, MsFromNow(50)));
  EXPECT_TRUE(hung.IsRunning()) << "left inside its task";
  EXPECT_FALSE(healthy.IsRunning()) << "stopped although another worker hangs";

  // The call returns after all: the worker ends by itself and can be
  // started again; so can the one that was stopped within the bound.
  call.Release();
  hung.Stop();
  EXPECT_FALSE(hung.IsRunning());
  RunLog again;
  ASSERT_TRUE(healthy.Start(1, [&] { again.Record(); }));
  EXPECT_TRUE(again.AwaitRuns(1, 5000)) << "a completed bounded stop leaves no stop request";
  EXPECT_TRUE(StopWorkersBefore({&healthy, &hung}, MsFromNow(20000)));
}

TEST(PeriodicWorker, AStopEndsALongSleep) {
  RunLog log;
  PeriodicWorker worker;
  ASSERT_TRUE(worker.Start(3600000, [&] { log.Record(); }));
  // An hour's sleep that ran out would hold the stop far past the bound.
  EXPECT_TRUE(worker.StopBefore(MsFromNow(20000)));
  EXPECT_FALSE(worker.IsRunning());
  // One more run when the stop found the thread asleep, none when it came
  // before the thread's first look.
  EXPECT_LE(log.Times().size(), 1u);
  // Stopped within the bound, it starts again.
  const std::size_t before = log.Times().size();
  ASSERT_TRUE(worker.Start(1, [&] { log.Record(); }));
  EXPECT_TRUE(log.AwaitRuns(before + 1, 5000));
  worker.Stop();
}

}  // namespace
