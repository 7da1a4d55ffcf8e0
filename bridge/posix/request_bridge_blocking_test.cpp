// Processor time is measured with std::clock, which counts processor time on
// POSIX only (on Windows it counts wall time), so this test joins that build.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <vector>

#include "bridge/request_bridge.h"

namespace {

TEST(RequestBridge, WaitersBlockInsteadOfSpinning) {
  RequestBridge bridge(BridgeOperations{}, 400);
  const std::clock_t cpuBefore = std::clock();
  std::vector<std::thread> waiters;
  for (int n = 0; n < 8; ++n) waiters.emplace_back([&] { bridge.SubmitAndWait(BridgeRequest{&kReadKind, "", "", ""}); });
  for (auto& waiter : waiters) waiter.join();
  const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  // Eight pollers would burn about 8 x 0.4 s of processor time.
  EXPECT_LT(cpuSeconds, 0.2);
}

}  // namespace
