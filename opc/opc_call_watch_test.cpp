#include "opc/opc_call_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recording_env.h"

namespace {

constexpr int64_t kMs = 1000000;

// A monotonic clock that moves only when the test moves it, and a console
// that keeps what is printed.
class FakeClockEnv : public platform::RecordingConsoleEnv {
 public:
  int64_t nowNs = 5000 * kMs;
  int64_t MonotonicNanoseconds() override { return nowNs; }
  void Advance(int64_t ms) { nowNs += ms * kMs; }
};

class CallWatchTest : public ::testing::Test {
 protected:
  // What one report prints, after the clock has moved by ms.
  std::string ReportAfter(int64_t ms) {
    env.Advance(ms);
    const std::size_t before = env.Printed().size();
    watch.Report(&env, 30000);
    return env.Printed().substr(before);
  }

  FakeClockEnv env;
  CallWatch watch{&env};
};

TEST_F(CallWatchTest, NothingRunsNothingIsTold) {
  EXPECT_EQ(watch.StalledMs(), 0);
  EXPECT_EQ(watch.Running(), "");
  EXPECT_EQ(ReportAfter(3600000), "");
}

TEST_F(CallWatchTest, AHangingCallIsToldOnceAndItsReturnOnce) {
  uint64_t token = watch.Begin("Read (sampling)");
  EXPECT_EQ(ReportAfter(29999), "") << "below the threshold";
  EXPECT_EQ(watch.StalledMs(), 29999);
  EXPECT_EQ(watch.Running(), "Read (sampling)");
  EXPECT_EQ(ReportAfter(1), "\nOPC call Read (sampling) has not returned after 30 s");
  EXPECT_EQ(ReportAfter(1000), "") << "told once per call";
  EXPECT_EQ(ReportAfter(60000), "");
  env.Advance(4000);
  watch.End(token);
  EXPECT_EQ(watch.StalledMs(), 0);
  EXPECT_EQ(watch.Running(), "");
  // The time of the return is the call's own, not the report's.
  EXPECT_EQ(ReportAfter(900), "\nOPC call Read (sampling) returned after 95 s");
  EXPECT_EQ(ReportAfter(1000), "");
}

TEST_F(CallWatchTest, CallsThatReturnInTimeAreNeverTold) {
  for (const char* name : {"Connect", "AddGroup", "AddItems", "Read (API)"}) {
    uint64_t token = watch.Begin(name);
    EXPECT_EQ(ReportAfter(20000), "") << name;
    watch.End(token);
    EXPECT_EQ(ReportAfter(20000), "") << name << " returned before the threshold";
  }
}

TEST_F(CallWatchTest, EachOfTwoHangingCallsIsTold) {
  uint64_t first = watch.Begin("Write (API)");
  EXPECT_EQ(ReportAfter(31000), "\nOPC call Write (API) has not returned after 31 s");
  watch.End(first);
  // The next call hangs as well before the watch looks again: both the
  // return and the new call's own line come, in that order.
  uint64_t second = watch.Begin("Read (sampling)");
  EXPECT_EQ(ReportAfter(45000),
            "\nOPC call Write (API) returned after 31 s"
            "\nOPC call Read (sampling) has not returned after 45 s");
  watch.End(second);
  EXPECT_EQ(ReportAfter(1), "\nOPC call Read (sampling) returned after 45 s");
}

TEST_F(CallWatchTest, AnEndOfACallThatWasReplacedChangesNothing) {
  uint64_t replaced = watch.Begin("AddItems");
  env.Advance(10);
  uint64_t running = watch.Begin("Browse (tags file)");
  watch.End(replaced);
  env.Advance(40);
  EXPECT_EQ(watch.Running(), "Browse (tags file)");
  EXPECT_EQ(watch.StalledMs(), 40);
  watch.End(running);
  EXPECT_EQ(watch.Running(), "");
}

TEST_F(CallWatchTest, WatchedCallCoversItsScope) {
  {
    WatchedCall watched(watch, "Connect");
    env.Advance(250);
    EXPECT_EQ(watch.Running(), "Connect");
    EXPECT_EQ(watch.StalledMs(), 250);
  }
  EXPECT_EQ(watch.Running(), "");
  EXPECT_EQ(watch.StalledMs(), 0);
}

TEST(CallWatchThreshold, ThirtySecondsOrThreeSamplingIntervals) {
  struct Case {
    int64_t sampleIntervalMs;
    int64_t thresholdMs;
  };
  for (const Case& c : std::vector<Case>{
           {0, 30000}, {1000, 30000}, {10000, 30000}, {10001, 30003}, {60000, 180000}}) {
    EXPECT_EQ(CallWatchThresholdMs(c.sampleIntervalMs), c.thresholdMs) << c.sampleIntervalMs;
  }
}

}  // namespace
