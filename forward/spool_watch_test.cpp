#include "forward/spool_watch.h"

#include <gtest/gtest.h>

#include "common/text_helpers.h"
#include "tests/support/forward_test_folder.h"
#include "tests/support/recording_env.h"

namespace {

constexpr int64_t kMinuteNs = 60LL * 1000 * 1000 * 1000;
constexpr uint64_t kMiB = 1024 * 1024;

// A recording console with clocks and a volume that the test sets.
class WatchedEnv : public platform::RecordingConsoleEnv {
 public:
  int64_t NowMilliseconds() override { return nowMs; }
  int64_t MonotonicNanoseconds() override { return monotonicNs; }
  platform::Status GetVolumeSpace(const std::string&, platform::VolumeSpace* space) override {
    if (!volumeKnown) return platform::Status::Failed("No such device");
    *space = volume;
    return platform::Status::Ok();
  }

  int64_t nowMs = 1796819074000;
  int64_t monotonicNs = 5 * kMinuteNs;
  bool volumeKnown = true;
  platform::VolumeSpace volume{500000 * kMiB, 1000000 * kMiB};
};

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SpoolCensusTest, CountsSpoolFilesAndTheirBytesAndFindsTheOldestByNumber) {
  TestFolder folder;
  folder.Write("1000.txt", "abc");
  folder.Write("999.txt", "de");
  folder.Write("1001.txt.writing", "temporary");
  folder.Write("notes.log", "other");
  folder.Write("notes.txt", "other");
  WatchedEnv env;
  SpoolCensus census = TakeSpoolCensus(&env, folder.path());
  EXPECT_TRUE(census.listed);
  EXPECT_EQ(census.files, 2);
  EXPECT_EQ(census.bytes, 5u);
  EXPECT_EQ(census.oldestName, "999.txt");

  SpoolCensus missing = TakeSpoolCensus(&env, folder.file("gone"));
  EXPECT_FALSE(missing.listed);
  EXPECT_FALSE(missing.cause.empty());
  EXPECT_EQ(missing.files, 0);
}

TEST(SpoolCensusTest, NameTimes) {
  EXPECT_EQ(SpoolNameMilliseconds("1796819074123.txt"), 1796819074123);
  EXPECT_EQ(SpoolNameMilliseconds("0.txt"), 0);
  EXPECT_EQ(SpoolNameMilliseconds(".txt"), -1);
  EXPECT_EQ(SpoolNameMilliseconds("12a.txt"), -1);
  EXPECT_EQ(SpoolNameMilliseconds("12.txt.writing"), -1);
  EXPECT_EQ(SpoolNameMilliseconds("1234567890123456789012.txt"), -1);
}

TEST(SpoolWatchTest, BacklogIsToldAfterTenIntervalsAtMostEveryTenMinutesAndItsEndOnce) {
  TestFolder folder;
  WatchedEnv env;
  SpoolWatch watch(&env, folder.path(), 2000, true);  // ten intervals: 20 s

  // An empty spool, then a fresh file: nothing to tell.
  watch.Check();
  const int64_t oldest = env.nowMs;
  folder.Write(std::to_string(oldest) + ".txt", "x");
  folder.Write(std::to_string(oldest + 5) + ".txt", "y");
  env.nowMs += 20000;
  watch.Check();
  EXPECT_EQ(env.Printed(), "");

  // Past ten intervals: told once, with the count and the oldest's time.
  env.nowMs += 1;
  watch.Check();
  EXPECT_EQ(env.Printed(),
            "\nUpload backlog: 2 files waiting, the oldest from " + FormatLocalTime(oldest, ""));

  // Not again within ten minutes, again after them.
  env.monotonicNs += 10 * kMinuteNs - 1;
  env.nowMs += 10 * 60000;
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "Upload backlog"), 1);
  env.monotonicNs += 1;
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "Upload backlog"), 2);

  // One file delivered: the backlog goes on, nothing new to tell yet.
  std::filesystem::remove(folder.file(std::to_string(oldest) + ".txt"));
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "Uploads caught up."), 0);

  // Empty again: told once.
  std::filesystem::remove(folder.file(std::to_string(oldest + 5) + ".txt"));
  watch.Check();
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "\nUploads caught up."), 1);
  EXPECT_EQ(Count(env.Printed(), "Upload backlog"), 2);
}

TEST(SpoolWatchTest, AShortIntervalStillAllowsTenSecondsBeforeTheAlarm) {
  TestFolder folder;
  WatchedEnv env;
  SpoolWatch watch(&env, folder.path(), 0, true);
  folder.Write(std::to_string(env.nowMs) + ".txt", "x");
  env.nowMs += 9000;
  watch.Check();
  EXPECT_EQ(env.Printed(), "");
  env.nowMs += 1001;
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "Upload backlog: 1 files waiting"), 1);
}

TEST(SpoolWatchTest, LowDiskSpaceIsToldOncePerCrossing) {
  TestFolder folder;
  WatchedEnv env;
  SpoolWatch watch(&env, folder.path(), 10000, false);
  // Without an api_host files are meant to stay: no backlog, only the disk.
  folder.Write(std::to_string(env.nowMs - 3600000) + ".txt", "x");
  watch.Check();
  EXPECT_EQ(env.Printed(), "");

  // Under 100 MiB free on a large volume.
  env.volume = {99 * kMiB, 1000000 * kMiB};
  watch.Check();
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "\nLow disk space for the spool: 99 MiB free of 1000000 MiB"), 1);

  // Back above both limits, then under 1% of a volume far larger than 100 MiB.
  env.volume = {20000 * kMiB, 1000000 * kMiB};
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "\nDisk space for the spool recovered: 20000 MiB free"), 1);
  env.volume = {9999 * kMiB, 1000000 * kMiB};
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "\nLow disk space for the spool"), 2);

  // A volume that cannot be asked changes nothing and prints nothing.
  env.volumeKnown = false;
  std::string before = env.Printed();
  watch.Check();
  EXPECT_EQ(env.Printed(), before);
}

TEST(SpoolWatchTest, AFileNamedByAClockRunningAheadIsJudgedByItsWait) {
  TestFolder folder;
  WatchedEnv env;
  SpoolWatch watch(&env, folder.path(), 1000, true);  // ten intervals: 10 s
  // Named a year ahead, and the samples after it named on from there.
  const int64_t ahead = env.nowMs + 365LL * 24 * 3600 * 1000;
  folder.Write(std::to_string(ahead) + ".txt", "x");
  const int64_t firstSeenMs = env.nowMs;
  watch.Check();
  folder.Write(std::to_string(ahead + 1) + ".txt", "y");
  env.nowMs += 10000;
  env.monotonicNs += 10000LL * 1000 * 1000;
  watch.Check();
  EXPECT_EQ(env.Printed(), "");
  env.nowMs += 1;
  env.monotonicNs += 1000 * 1000;
  watch.Check();
  // Waiting since the watch first saw it, not since a time to come.
  EXPECT_EQ(env.Printed(), "\nUpload backlog: 2 files waiting, the oldest from " +
                               FormatLocalTime(firstSeenMs, ""));

  // Delivered and replaced by a new one: its wait starts afresh.
  std::filesystem::remove(folder.file(std::to_string(ahead) + ".txt"));
  std::filesystem::remove(folder.file(std::to_string(ahead + 1) + ".txt"));
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "\nUploads caught up."), 1);
  folder.Write(std::to_string(ahead + 2) + ".txt", "z");
  watch.Check();
  env.nowMs += 10000;
  env.monotonicNs += 10000LL * 1000 * 1000;
  watch.Check();
  EXPECT_EQ(Count(env.Printed(), "Upload backlog"), 1);
}

TEST(SpoolWatchTest, CheckIfDueLooksOncePerSamplingIntervalWithinASecondAndAMinute) {
  struct Case {
    int32_t sampleIntervalMs;
    int64_t paceMs;
  };
  for (const Case& c : {Case{0, 1000}, Case{2000, 2000}, Case{600000, 60000}}) {
    TestFolder folder;
    WatchedEnv env;
    SpoolWatch watch(&env, folder.path(), c.sampleIntervalMs, false);
    // Each look is seen by the disk line it prints on a crossing.
    env.volume = {1 * kMiB, 1000000 * kMiB};
    watch.CheckIfDue();  // the first call looks at once
    EXPECT_EQ(Count(env.Printed(), "Low disk space"), 1) << c.sampleIntervalMs;
    env.volume = {500000 * kMiB, 1000000 * kMiB};
    env.monotonicNs += c.paceMs * 1000000 - 1;
    watch.CheckIfDue();
    EXPECT_EQ(Count(env.Printed(), "recovered"), 0) << c.sampleIntervalMs;
    env.monotonicNs += 1;
    watch.CheckIfDue();
    EXPECT_EQ(Count(env.Printed(), "recovered"), 1) << c.sampleIntervalMs;
  }
}

}  // namespace
