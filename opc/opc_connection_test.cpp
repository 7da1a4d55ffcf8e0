#include "opc/opc_connection.h"

#include <gtest/gtest.h>

#include "tests/support/opc_test_session.h"

namespace {

TEST(ItemId, JoinsGroupItemAndTagWithDots) {
  EXPECT_EQ(ItemId("G", "I", "T"), "G.I.T");
  EXPECT_EQ(ItemId("G", "I", ""), "G.I.");
  std::string longTag(400, 'x');
  EXPECT_EQ(ItemId("G", "I", longTag).size(), 404u);
}

TEST_F(OpcSessionTest, ANewSessionIsEmpty) {
  EXPECT_EQ(session_.connected, 0);
  EXPECT_FALSE(session_.serverObject || session_.opcServer || session_.itemMgt || session_.syncIO);
  EXPECT_TRUE(session_.handleByItemId.empty() && session_.typeByItemId.empty() &&
              session_.items.empty());
}

TEST_F(OpcSessionTest, DiscoveryPicksTheLastCaseInsensitiveMatch) {
  Write("simulation.ini",
        "[server]\nprogid=Talvero.Simulation.1\nothers="
        "TALVERO.simulation.1|Older\n");
  opc::ClassId id{};
  env_.TakeConsole();
  EXPECT_EQ(DiscoverServer(session_, ServerTarget{}, "talvero.SIMULATION.1", &id),
            DiscoverResult::kFound);
  std::string out = env_.TakeConsole();
  EXPECT_EQ(id, sim::kSimServerClassId);
  EXPECT_NE(out.find("\n1: ProgID = TALVERO.simulation.1 (Older)\n2: ProgID "
                     "= Talvero.Simulation.1 "
                     "(Talvero Simulation Server)"),
            std::string::npos)
      << out;
  EXPECT_EQ(DiscoverServer(session_, ServerTarget{}, "Nothing.Here", &id),
            DiscoverResult::kNoMatch);
  Write("simulation.ini", "[server]\nfail=enum\n");
  EXPECT_EQ(DiscoverServer(session_, ServerTarget{}, "Talvero.Simulation.1", &id),
            DiscoverResult::kEnumerationFailed);
  Write("simulation.ini", "[server]\nfail=list   ; inline comment\n");
  EXPECT_EQ(DiscoverServer(session_, ServerTarget{}, "Talvero.Simulation.1", &id),
            DiscoverResult::kLocalListFailed);
}

TEST_F(OpcSessionTest, ConnectAndGroupFailuresGiveTheirCodes) {
  EXPECT_EQ(ConnectServer(session_, ServerTarget{}, opc::ClassId{}),
            ConnectResult::kCreationFailed);
  EXPECT_FALSE(session_.serverObject);
  Write("simulation.ini", "[server]\nfail=noserver\n");
  EXPECT_EQ(Connect(), ConnectResult::kNoOpcServer);
  EXPECT_EQ(session_.connected, 0);
  Write("simulation.ini", "[server]\nfail=addgroup\n");
  EXPECT_EQ(Connect(), ConnectResult::kConnected);
  EXPECT_EQ(Connect(), ConnectResult::kConnected);
  EXPECT_EQ(CreateGroup(session_, "G"), GroupResult::kAddGroupFailed);
  Write("simulation.ini", "[server]\nfail=noitemmgt\n");
  EXPECT_EQ(Connect(), ConnectResult::kConnected);
  EXPECT_EQ(CreateGroup(session_, "G"), GroupResult::kNoItemMgt);
  EXPECT_FALSE(session_.itemMgt);
}

TEST_F(OpcSessionTest, ComErrorTextStripsLineEndsAndNamesUnknownCodes) {
  EXPECT_EQ(ComErrorText(session_, opc::kFail), "Unspecified error");
  EXPECT_EQ(ComErrorText(session_, static_cast<int32_t>(0x80040205)), "IDispatch error #5");
  EXPECT_EQ(ComErrorText(session_, static_cast<int32_t>(0x80070666)), "Unknown error 0x80070666");
}

}  // namespace
