// Detached threads, run against the platform implementation of each build.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Shared with the threads, which may outlive a failed test.
struct Runs {
  explicit Runs(int count) : perBody(count) {}
  std::vector<std::atomic<int>> perBody;
  std::mutex mutex;
  std::condition_variable allEnded;
  int ended = 0;  // guarded by mutex
};

TEST(DetachedThreadTest, EveryBodyRunsOnceEvenWhenThreadsEndBeforeTheirCreatorGoesOn) {
  // Bodies that return at once race their thread's end against the creator;
  // each must still run exactly once, and no thread may run another's body.
  constexpr int kThreads = 3000;
  auto runs = std::make_shared<Runs>(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_TRUE(platform::StartDetachedThread([runs, i] {
      runs->perBody[i].fetch_add(1);
      std::lock_guard<std::mutex> hold(runs->mutex);
      ++runs->ended;
      runs->allEnded.notify_one();
    }));
  }
  {
    std::unique_lock<std::mutex> hold(runs->mutex);
    ASSERT_TRUE(runs->allEnded.wait_for(hold, std::chrono::seconds(30),
                                        [&] { return runs->ended == kThreads; }))
        << runs->ended << " of " << kThreads << " bodies ran";
  }
  int wrong = 0;
  for (int i = 0; i < kThreads; ++i) {
    if (runs->perBody[i].load() != 1) ++wrong;
  }
  EXPECT_EQ(wrong, 0) << "bodies that did not run exactly once";
}

}  // namespace
