#include "sim/sim_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(ParseSimConfig, ReadsServerKeysAndItemsWithInlineCommentsStripped) {
  sim::SimConfig config = sim::ParseSimConfig(
      "[server]\n"
      "progid=My.Server.2        ; the ProgID\n"
      "name=My Server\t; name\n"
      "others=A.1|First;B.1|Second\n"
      "fail=READ   ; upper case works\n"
      "delay=25\n"
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

struct ChangeCase {
  opc::Variant from;
  uint16_t type;
  bool ok;
  int64_t integer;
  double real;
  std::u16string text;
};

opc::Variant V(uint16_t vt, int64_t integer, double real = 0, std::u16string text = u"") {
  opc::Variant v;
  v.vt = vt;
  v.integer = integer;
  v.real = real;
  v.text = text;
  return v;
}

TEST(ChangeVariantType, ConvertsLikeTheComConversion) {
  const ChangeCase cases[] = {
      {V(opc::VT_BSTR, 0, 0, u"12"), opc::VT_I2, true, 12, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u" 2.5 "), opc::VT_R4, true, 0, 2.5, u""},
      {V(opc::VT_BSTR, 0, 0, u"abc"), opc::VT_I4, false, 0, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u"true"), opc::VT_BOOL, true, -1, 0, u""},
      {V(opc::VT_BSTR, 0, 0, u"0"), opc::VT_BOOL, true, 0, 0, u""},
      {V(opc::VT_BOOL, 1), opc::VT_BOOL, true, -1, 0, u""},
      {V(opc::VT_I4, 300), opc::VT_UI1, false, 0, 0, u""},
      {V(opc::VT_I4, -1), opc::VT_UI4, false, 0, 0, u""},
      {V(opc::VT_R8, 0, 2.5), opc::VT_I4, true, 2, 0, u""},  // half to even
      {V(opc::VT_R8, 0, 3.5), opc::VT_I4, true, 4, 0, u""},
      {V(opc::VT_R8, 0, 1.25), opc::VT_CY, true, 12500, 0, u""},
      {V(opc::VT_I4, 42), opc::VT_BSTR, true, 0, 0, u"42"},
      {V(opc::VT_BOOL, -1), opc::VT_BSTR, true, 0, 0, u"True"},
      {V(opc::VT_BSTR, 0, 0, u"44843.5"), opc::VT_DATE, true, 0, 44843.5, u""},
      {V(opc::VT_R8, 0, 1e40), opc::VT_R4, false, 0, 0, u""},
  };
  for (const ChangeCase& c : cases) {
    opc::Variant to;
    bool ok = sim::ChangeVariantType(c.from, c.type, &to);
    EXPECT_EQ(ok, c.ok) << c.from.vt << "->" << c.type;
    if (!ok || !c.ok) continue;
    EXPECT_EQ(to.vt, c.type);
    EXPECT_EQ(to.integer, c.integer) << c.from.vt << "->" << c.type;
    EXPECT_DOUBLE_EQ(to.real, c.real) << c.from.vt << "->" << c.type;
    EXPECT_EQ(to.text, c.text);
  }
}

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

}  // namespace
