#include "forward/sampler.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "opc/value_text.h"
#include "tests/support/forward_test_folder.h"
#include "tests/support/recording_env.h"

namespace {

// Stands in for the OPC server: the current value text of every item.
struct FakeDevice {
  OpcSession* session;
  std::vector<std::string> values;
  int reads = 0;

  bool Read(int32_t count, std::vector<ItemValue>* read) {
    ++reads;
    read->clear();
    for (int32_t i = 0; i < count; ++i) {
      const std::string& name = session->items[i].tagName;
      read->push_back(ItemValue{name, values[i], ValueRecord(name, values[i], 1)});
    }
    return true;
  }
};

// The default environment with a recording console, whose folder flush or
// rename fails on request with the cause a full disk would give.
class FaultyFilesEnv : public platform::RecordingConsoleEnv {
 public:
  bool failFlush = false;
  bool failRename = false;

  platform::Status FlushDirectory(const std::string& folder) override {
    if (failFlush) return platform::Status::Failed("No space left on device");
    return RecordingConsoleEnv::FlushDirectory(folder);
  }
  platform::Status RenameNoReplace(const std::string& from, const std::string& to) override {
    if (failRename) return platform::Status::Failed("Input/output error");
    return RecordingConsoleEnv::RenameNoReplace(from, to);
  }
};

class SamplerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session.connected = 1;
    for (const char* name : {"Level", "Count"}) {
      OpcItem item;
      item.tagName = name;
      session.items.push_back(item);
    }
    device.session = &session;
    device.values = {"1.5", "7"};
    context.env = &env;
    context.session = &session;
    context.folder = folder.path();
    context.read = [this](int32_t count, std::vector<ItemValue>* values) {
      return device.Read(count, values);
    };
  }

  std::vector<std::string> SpoolNames() {
    std::vector<std::string> names = folder.Names();
    SortSpoolNames(&names);
    return names;
  }

  // Every value read by the failed tick is offered again by the next one,
  // which writes them all; nothing is left behind by the failed write.
  void ExpectTheFailedSampleWrittenByTheNextTick() {
    EXPECT_EQ(state.forwarded[0], "");
    EXPECT_EQ(state.forwarded[1], "");
    EXPECT_TRUE(folder.Names().empty());
    env.failFlush = env.failRename = false;
    SampleTickWith(context, &state);
    std::vector<std::string> names = SpoolNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(folder.Read(names[0]),
              "{\"i\":\"Level\",\"v\":\"1.5\",\"t\":1},{\"i\":\"Count\",\"v\":\"7\",\"t\":1}");
  }

  TestFolder folder;
  FaultyFilesEnv env;
  OpcSession session;
  FakeDevice device{nullptr, {}};
  SamplerContext context;
  SamplerState state;
};

TEST_F(SamplerTest, ChangedValuesBecomeOneFileOfCommaJoinedRecords) {
  SampleTickWith(context, &state);
  std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].size(), 17u);  // 13 digits and ".txt"
  EXPECT_EQ(folder.Read(names[0]),
            "{\"i\":\"Level\",\"v\":\"1.5\",\"t\":1},{\"i\":\"Count\",\"v\":\"7\",\"t\":1}");
  EXPECT_FALSE(state.busy.load());
}

TEST_F(SamplerTest, NoChangeWritesNoFile) {
  SampleTickWith(context, &state);
  SampleTickWith(context, &state);
  EXPECT_EQ(device.reads, 2);
  EXPECT_EQ(SpoolNames().size(), 1u);
}

TEST_F(SamplerTest, TwoTicksGiveTwoFilesInSampleOrder) {
  SampleTickWith(context, &state);
  device.values[1] = "8";
  SampleTickWith(context, &state);
  std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_NE(names[0], names[1]);
  EXPECT_EQ(folder.Read(names[1]), "{\"i\":\"Count\",\"v\":\"8\",\"t\":1}");
}

TEST_F(SamplerTest, ANewItemSetIsReportedWhole) {
  SampleTickWith(context, &state);
  ++session.itemSetVersion;  // the same names added again
  SampleTickWith(context, &state);
  std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(folder.Read(names[1]),
            "{\"i\":\"Level\",\"v\":\"1.5\",\"t\":1},{\"i\":\"Count\",\"v\":\"7\",\"t\":1}");
}

TEST_F(SamplerTest, NotConnectedDoesNotReadOrWrite) {
  session.connected = 0;
  SampleTickWith(context, &state);
  EXPECT_EQ(device.reads, 0);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(SamplerTest, StopRequestTakesNoSample) {
  context.stopRequested = [] { return true; };
  SampleTickWith(context, &state);
  EXPECT_EQ(device.reads, 0);
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_FALSE(state.busy.load());
}

TEST_F(SamplerTest, BusyTickReturnsAtOnce) {
  state.busy.store(true);
  SampleTickWith(context, &state);
  EXPECT_EQ(device.reads, 0);
}

TEST_F(SamplerTest, FailedWriteRecreatesFolderAndNextTickReportsTheSameValues) {
  std::filesystem::remove_all(folder.path());
  SampleTickWith(context, &state);
  EXPECT_EQ(device.reads, 1);
  EXPECT_EQ(env.Printed().rfind("\nSpool write failed: cannot write " + folder.path(), 0), 0u)
      << env.Printed();
  ASSERT_TRUE(std::filesystem::is_directory(folder.path())) << "the spool folder is made again";
  EXPECT_TRUE(folder.Names().empty());
  // The failed tick's values were taken back from the record, so they count as changed.
  EXPECT_EQ(state.forwarded[0], "");
  EXPECT_EQ(state.forwarded[1], "");

  SampleTickWith(context, &state);
  std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(folder.Read(names[0]),
            "{\"i\":\"Level\",\"v\":\"1.5\",\"t\":1},{\"i\":\"Count\",\"v\":\"7\",\"t\":1}");
}

TEST_F(SamplerTest, FailedFolderFlushIsReportedWithItsCauseAndTheValuesComeAgain) {
  env.failFlush = true;
  SampleTickWith(context, &state);
  EXPECT_EQ(env.Printed(),
            "\nSpool write failed: cannot flush " + folder.path() + ": No space left on device");
  ExpectTheFailedSampleWrittenByTheNextTick();
}

TEST_F(SamplerTest, FailedRenameIsReportedWithItsCauseAndTheValuesComeAgain) {
  env.failRename = true;
  SampleTickWith(context, &state);
  EXPECT_EQ(env.Printed().rfind("\nSpool write failed: cannot rename " + folder.path(), 0), 0u)
      << env.Printed();
  EXPECT_NE(env.Printed().find(".writing: Input/output error"), std::string::npos) << env.Printed();
  ExpectTheFailedSampleWrittenByTheNextTick();
}

TEST_F(SamplerTest, ShowreadPrintsEachSampleAfterALineBreak) {
  context.showread = true;
  SampleTickWith(context, &state);
  EXPECT_EQ(env.Printed(),
            "\nRead:{\"i\":\"Level\",\"v\":\"1.5\",\"t\":1},{\"i\":\"Count\",\"v\":\"7\",\"t\":1}");
  SampleTickWith(context, &state);  // nothing changed: nothing printed
  context.showread = false;
  device.values[0] = "2";
  SampleTickWith(context, &state);
  EXPECT_EQ(SpoolNames().size(), 2u);
  EXPECT_EQ(env.Printed().find("Read:", 2), std::string::npos) << env.Printed();
}

TEST_F(SamplerTest, FailedWriteRestoresOnlyToThePreviousValues) {
  SampleTickWith(context, &state);  // delivers 1.5 and 7
  device.values[0] = "2.5";
  std::filesystem::remove_all(folder.path());
  SampleTickWith(context, &state);  // 2.5 cannot be written
  EXPECT_EQ(state.forwarded[0], "1.5");
  EXPECT_EQ(state.forwarded[1], "7");
  SampleTickWith(context, &state);
  std::vector<std::string> names = SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(folder.Read(names[0]), "{\"i\":\"Level\",\"v\":\"2.5\",\"t\":1}");
}

}  // namespace

namespace {

// Gives the wall clock the test sets; every other call goes on.
class SetClockEnv : public FaultyFilesEnv {
 public:
  int64_t nowMs = 1796819074000;
  int64_t NowMilliseconds() override { return nowMs; }
};

TEST_F(SamplerTest, TheStatusLearnsTheLastGoodReadTheFailuresAndTheCallUnderWay) {
  SetClockEnv clock;
  context.env = &clock;
  bool fail = false;
  std::string runningDuringRead;
  context.read = [&](int32_t count, std::vector<ItemValue>* values) {
    // Read as the status report reads it: while the sampler holds the
    // session lock.
    runningDuringRead = session.calls.Running();
    return !fail && device.Read(count, values);
  };
  EXPECT_EQ(state.lastReadMs.load(), 0) << "no read yet";

  SampleTickWith(context, &state);
  EXPECT_EQ(runningDuringRead, "Read (sampling)");
  EXPECT_EQ(session.calls.Running(), "") << "the call ended with the read";
  EXPECT_EQ(state.lastReadMs.load(), 1796819074000);
  EXPECT_EQ(state.readFailures.load(), 0);

  // Failed reads count and leave the last good read's time as it was.
  fail = true;
  clock.nowMs += 1000;
  SampleTickWith(context, &state);
  SampleTickWith(context, &state);
  EXPECT_EQ(state.readFailures.load(), 2);
  EXPECT_EQ(state.lastReadMs.load(), 1796819074000);

  fail = false;
  clock.nowMs += 1000;
  SampleTickWith(context, &state);
  EXPECT_EQ(state.lastReadMs.load(), 1796819076000);
  EXPECT_EQ(state.readFailures.load(), 2);

  // A tick that asks the server nothing counts as neither.
  session.connected = 0;
  clock.nowMs += 1000;
  SampleTickWith(context, &state);
  session.connected = 1;
  session.items.clear();
  SampleTickWith(context, &state);
  EXPECT_EQ(state.lastReadMs.load(), 1796819076000);
  EXPECT_EQ(state.readFailures.load(), 2);
}

}  // namespace
