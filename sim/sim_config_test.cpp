#include "sim/sim_config.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseSimConfig, ReadsServerKeysAndItemsWithInlineCommentsStripped) {
  sim::SimConfig config = sim::ParseSimConfig(
      "[server]\n"
      "progid=My.Server.2        ; the ProgID\n"
      "name=My Server\t; name\n"
      "others=A.1|First;B.1|Second\n"
      "fail=READ   ; upper case works\n"
      "delay=25\n"
      "delayafter=3\n"
      "[items]\n"
      "; comment line\n"
      "A.B.Text=VT_BSTR,static,a, b;c   ; the comment goes\n"
      "A.B.Ramp=VT_I4,ramp,0,10,2\n"
      "A.B.Fixed=VT_I4,static-ro,7\n"
      "A.B.Bad=VT_NOPE,static,1\n"
      "A.B.BadRamp=VT_I4,ramp,1\n"
      "A.B.Toggle=VT_BOOL,toggle\n");
  EXPECT_EQ(config.progId, "My.Server.2");
  EXPECT_EQ(config.name, "My Server");
  ASSERT_EQ(config.others.size(), 2u);
  EXPECT_EQ(config.others[1].progId, "B.1");
  EXPECT_EQ(config.others[1].name, "Second");
  EXPECT_EQ(config.fault, sim::Fault::kRead);
  EXPECT_EQ(config.delayMilliseconds, 25u);
  EXPECT_EQ(config.delayAfter, 3u);
  ASSERT_EQ(config.items.size(), 4u);
  EXPECT_EQ(config.items[0].staticText, "a, b;c");
  EXPECT_EQ(config.items[1].behaviour, sim::Behaviour::kRamp);
  EXPECT_EQ(config.items[1].numbers, (std::vector<double>{0, 10, 2}));
  EXPECT_TRUE(config.items[2].readOnly);
  EXPECT_EQ(config.items[3].itemId, "A.B.Toggle");
}

TEST(ParseSimConfig, DefaultsWhenEmpty) {
  sim::SimConfig config = sim::ParseSimConfig("");
  EXPECT_EQ(config.progId, "Talvero.Simulation.1");
  EXPECT_EQ(config.fault, sim::Fault::kNone);
  EXPECT_TRUE(config.items.empty());
}

TEST(FaultFromText, NamesEverySwitchAndItsResult) {
  EXPECT_EQ(sim::FaultFromText(" NoBrowse "), sim::Fault::kNoBrowse);
  EXPECT_EQ(sim::FaultFromText("nothing"), sim::Fault::kNone);
  EXPECT_EQ(sim::FaultFromText("register"), sim::Fault::kRegister);
  EXPECT_EQ(sim::FaultResult(sim::Fault::kList), opc::kClassNotRegistered);
  EXPECT_EQ(sim::FaultResult(sim::Fault::kCreate), opc::kServerExecFailure);
  EXPECT_EQ(sim::FaultResult(sim::Fault::kNoSyncIO), opc::kNoInterface);
  EXPECT_EQ(sim::FaultResult(sim::Fault::kWrite), opc::kFail);
  EXPECT_EQ(sim::FaultResult(sim::Fault::kNone), opc::kOk);
}

}  // namespace
