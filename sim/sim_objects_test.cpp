#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/sim_engine.h"

namespace fs = std::filesystem;

namespace {

class SimBehaviourTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = (fs::temp_directory_path() / ("talvero-sim-" + std::to_string(std::rand()))).string();
    fs::create_directories(folder_);
    std::ofstream(fs::path(folder_) / "simulation.ini")
        << "[items]\nA.B.Ramp=VT_I4,ramp,0,4,2\nA.B.Toggle=VT_BOOL,toggle\n"
           "A.B.Static=VT_I2,static,5\n";
    environment_.folder = folder_;
    environment_.now = [this] { return now_; };
    environment_.monotonicNanoseconds = [this] { return monotonic_; };
    ASSERT_EQ(sim::CreateSimServer(environment_, sim::kSimServerClassId, &object_), opc::kOk);
    std::shared_ptr<opc::OpcServer> server;
    ASSERT_EQ(object_->QueryServer(&server), opc::kOk);
    std::shared_ptr<opc::OpcObject> group;
    ASSERT_EQ(server->AddGroup(u"g", true, 10, 1, 0, 0, 0, &group), opc::kOk);
    ASSERT_EQ(group->QueryItemMgt(&itemMgt_), opc::kOk);
    ASSERT_EQ(group->QuerySyncIO(&syncIO_), opc::kOk);
    std::vector<opc::ItemDefinition> definitions(3);
    definitions[0].itemId = u"A.B.Ramp";
    definitions[1].itemId = u"A.B.Toggle";
    definitions[2].itemId = u"A.B.Static";
    std::vector<opc::Result> errors;
    ASSERT_EQ(itemMgt_->AddItems(definitions, &results_, &errors), opc::kOk);
  }
  void TearDown() override { fs::remove_all(folder_); }
  opc::Result ReadResult() {
    std::vector<opc::ItemState> states;
    std::vector<opc::Result> errors;
    return syncIO_->Read(opc::kSourceDevice, {results_[0].serverHandle}, &states, &errors);
  }
  std::vector<opc::ItemState> ReadAt(uint64_t seconds) {
    now_ = kStart + seconds * 10000000ULL;
    std::vector<opc::ItemState> states;
    std::vector<opc::Result> errors;
    std::vector<uint32_t> handles;
    for (const auto& r : results_) handles.push_back(r.serverHandle);
    EXPECT_EQ(syncIO_->Read(opc::kSourceDevice, handles, &states, &errors), opc::kOk);
    return states;
  }
  static constexpr uint64_t kStart = 133000000000000000ULL;
  uint64_t now_ = kStart;
  int64_t monotonic_ = 5;
  std::string folder_;
  sim::SimEnvironment environment_;
  std::shared_ptr<opc::OpcObject> object_;
  std::shared_ptr<opc::OpcItemMgt> itemMgt_;
  std::shared_ptr<opc::OpcSyncIO> syncIO_;
  std::vector<opc::ItemResult> results_;
};

TEST_F(SimBehaviourTest, RampWrapsToggleFlipsStaticKeepsItsCreationTime) {
  const int64_t ramp[] = {0, 2, 4, 0, 2};
  for (uint64_t s = 0; s < 5; ++s) {
    auto states = ReadAt(s);
    EXPECT_EQ(states[0].value.integer, ramp[s]) << s;
    EXPECT_EQ(states[0].timeStamp, kStart + s * 10000000ULL);
    EXPECT_EQ(states[1].value.integer, s % 2 == 1 ? -1 : 0) << s;
    EXPECT_EQ(states[2].value.integer, 5);
    EXPECT_EQ(states[2].timeStamp, kStart);
  }
}

TEST_F(SimBehaviourTest, AWriteStampsTheStaticItemWithTheWriteTime) {
  now_ = kStart + 7 * 10000000ULL;
  std::vector<opc::Result> errors;
  opc::Variant value;
  value.vt = opc::VT_BSTR;
  value.text = u"9";
  ASSERT_EQ(syncIO_->Write({results_[2].serverHandle}, {value}, &errors), opc::kOk);
  auto states = ReadAt(9);
  EXPECT_EQ(states[2].value.integer, 9);
  EXPECT_EQ(states[2].timeStamp, kStart + 7 * 10000000ULL);
}

TEST_F(SimBehaviourTest, TheDownMarkerIsLookedAtAtMostOnceInAHundredMilliseconds) {
  const int64_t kInterval = 100 * 1000 * 1000;
  ASSERT_EQ(ReadResult(), opc::kOk);
  std::ofstream(fs::path(folder_) / "simulation.down").put('x');
  // The last look still stands: no file is opened for this call.
  EXPECT_EQ(ReadResult(), opc::kOk);
  monotonic_ += kInterval - 1;
  EXPECT_EQ(ReadResult(), opc::kOk);
  monotonic_ += 1;
  EXPECT_EQ(ReadResult(), opc::kServerUnavailable);
  std::shared_ptr<opc::OpcServer> server;
  EXPECT_EQ(object_->QueryServer(&server), opc::kServerUnavailable);
  // Creation looks at the marker itself, every time.
  std::shared_ptr<opc::OpcObject> another;
  EXPECT_EQ(sim::CreateSimServer(environment_, sim::kSimServerClassId, &another),
            opc::kServerExecFailure);
  fs::remove(fs::path(folder_) / "simulation.down");
  EXPECT_EQ(ReadResult(), opc::kServerUnavailable);
  monotonic_ += kInterval;
  EXPECT_EQ(ReadResult(), opc::kOk);
}

}  // namespace
