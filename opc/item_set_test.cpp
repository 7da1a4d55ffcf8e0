#include "opc/item_set.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "opc/opc_test_session.h"
#include "opc/tag_operations.h"

namespace {

// The tags file is read with the common line splitter: every line counts,
// exactly as read.
TEST(TagsFileLines, KeepEveryLineExactly) {
  EXPECT_EQ(SplitLines("A\n\nB\n"), (TextList{"A", "", "B"}));
  EXPECT_EQ(SplitLines("A\r\nB"), (TextList{"A", "B"}));
  EXPECT_EQ(SplitLines(" A \n"), (TextList{" A "}));
  EXPECT_EQ(SplitLines(""), TextList{});
  EXPECT_EQ(SplitLines("\n"), TextList{""});
}

TEST_F(OpcSessionTest, AddItemSetPrintsOkAndNoLinesAndTotals) {
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
  env_.TakeConsole();
  AddItemSet(session_, "G", "I", {"Small", "", "Missing"});
  std::string out = env_.TakeConsole();
  ASSERT_EQ(session_.items.size(), 3u);
  EXPECT_NE(session_.items[0].serverHandle, 0u);
  EXPECT_EQ(session_.items[1].serverHandle, 0u);
  EXPECT_EQ(session_.handleByItemId.count("G.I.Small"), 1u);
  EXPECT_EQ(session_.handleByItemId.count("G.I."), 0u);
  EXPECT_NE(out.find("\nItems adding...!"), std::string::npos) << out;
  EXPECT_NE(out.find("\n1:[OK] Small"), std::string::npos) << out;
  EXPECT_NE(out.find("\n2:[NO] "), std::string::npos) << out;
  EXPECT_NE(out.find("\n3:[NO] Missing"), std::string::npos) << out;
  EXPECT_NE(out.find("\nItems update completed! "), std::string::npos) << out;
  EXPECT_NE(out.find("Success 1"), std::string::npos) << out;
  EXPECT_NE(out.find("Failure 2"), std::string::npos) << out;
  // The counts stay for the status report.
  EXPECT_EQ(session_.itemsAdded.load(), 1);
  EXPECT_EQ(session_.itemsFailed.load(), 2);
}

TEST_F(OpcSessionTest, AddItemSetWithoutItemMgtOrNamesChangesNothingOnTheServer) {
  env_.TakeConsole();
  AddItemSet(session_, "G", "I", {"Small"});
  EXPECT_EQ(session_.itemsAdded.load(), 0);
  EXPECT_EQ(session_.itemsFailed.load(), 1);
  AddItemSet(session_, "G", "I", {});
  EXPECT_EQ(session_.itemsFailed.load(), 0);
  std::string out = env_.TakeConsole();
  EXPECT_EQ(session_.items.size(), 1u);
  EXPECT_EQ(session_.items[0].serverHandle, 0u);
  EXPECT_NE(out.find("\nAdd item error"), std::string::npos) << out;
  EXPECT_NE(out.find("\nNo item added"), std::string::npos) << out;
}

TEST_F(OpcSessionTest, RefreshWritesTheStoreAndCopiesOnlyWhenTheBrowseChanged) {
  Connect({"Small"});
  session_.settings.itemstartsList = {"AI"};
  Write("tags.txt", "operator's own\n");
  RefreshTagsFile(session_);
  EXPECT_EQ(Read("items.db"), "AI1\nAI2\n");
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  // Same leaves: the store is rewritten, the tags file left alone.
  Write("tags.txt", "edited\n");
  RefreshTagsFile(session_);
  EXPECT_EQ(Read("items.db"), "AI1\nAI2\n");
  EXPECT_EQ(Read("tags.txt"), "edited\n");
  // A new leaf on the server (rejected by the prefixes) changes the digest.
  std::string more = std::string(kSessionSimulation) + "G.I.DO9=VT_I2,static,1\n";
  Write("simulation.ini", more);
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  RefreshTagsFile(session_);
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  // Nothing happens without autoitems or a connection.
  Write("tags.txt", "kept\n");
  Write("simulation.ini", std::string(kSessionSimulation) + "G.I.AI7=VT_I2,static,1\n");
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  session_.settings.autoitems = false;
  RefreshTagsFile(session_);
  EXPECT_EQ(Read("tags.txt"), "kept\n");
}

TEST_F(OpcSessionTest, TagsFileFailuresAreReportedWithTheirCauseAndTriedAgain) {
  Connect({"Small"});
  session_.settings.itemstartsList = {"AI"};
  Write("tags.txt", "kept\n");
  // A store that cannot be written is not copied.
  env_.writeFailure = "No space left on device";
  RefreshTagsFile(session_);
  EXPECT_EQ(env_.TakeConsole(), "\nItem store write failed: No space left on device");
  EXPECT_EQ(Read("tags.txt"), "kept\n");
  // A copy that fails is reported, and the next refresh copies the same
  // leaves again.
  env_.writeFailure.clear();
  env_.copyFailure = "Permission denied";
  RefreshTagsFile(session_);
  EXPECT_EQ(env_.TakeConsole(), "\nTags file copy failed: Permission denied");
  EXPECT_EQ(Read("tags.txt"), "kept\n");
  env_.copyFailure.clear();
  RefreshTagsFile(session_);
  EXPECT_EQ(env_.TakeConsole(), "");
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  env_.readFailure = "Input/output error";
  EXPECT_FALSE(ReloadTags(session_));
  EXPECT_EQ(env_.TakeConsole(), "\nTags file read failed: Input/output error");
  ASSERT_EQ(session_.items.size(), 1u);
  EXPECT_EQ(session_.items[0].tagName, "Small");
}

TEST_F(OpcSessionTest, AFailedBrowseRewritesNothingAndCountsAsALostConnection) {
  Connect({"Small"});
  session_.settings.itemstartsList = {"AI"};
  RefreshTagsFile(session_);
  ASSERT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  ASSERT_EQ(session_.typeByItemId["G.I.AI1"], opc::VT_R8);
  // The same server, now without browsing: as good as gone for the refresh.
  Write("simulation.ini", SimulationWithFault("nobrowse"));
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  env_.TakeConsole();
  RefreshTagsFile(session_);
  EXPECT_EQ(env_.TakeConsole(), "\nBrowse error");
  EXPECT_EQ(session_.connected, 0);
  EXPECT_EQ(Read("items.db"), "AI1\nAI2\n");
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  EXPECT_EQ(session_.browsedItems.size(), 10u);
  EXPECT_EQ(session_.typeByItemId["G.I.AI1"], opc::VT_R8);
  // A branch the server does not know fails the browse the same way.
  Write("simulation.ini", kSessionSimulation);
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  TextList leaves = {"kept"};
  EXPECT_FALSE(BrowseLeafItems(session_, "G", "Nothing", &leaves));
  EXPECT_EQ(leaves, TextList{"kept"});
  EXPECT_TRUE(BrowseLeafItems(session_, "G", "J", &leaves));
  EXPECT_EQ(leaves, TextList{"Other"});
}

TEST_F(OpcSessionTest, ReloadTagsReadsTheFileOrReportsItMissing) {
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
  EXPECT_FALSE(ReloadTags(session_));
  Write("tags.txt", "Small\n\nText");
  env_.TakeConsole();
  EXPECT_TRUE(ReloadTags(session_));
  ASSERT_EQ(session_.items.size(), 3u);
  EXPECT_EQ(session_.items[1].tagName, "");
  EXPECT_EQ(session_.items[2].tagName, "Text");
  // A reload that drops a tag keeps its handle in the map.
  uint32_t textHandle = session_.handleByItemId["G.I.Text"];
  Write("tags.txt", "Small\n");
  env_.TakeConsole();
  EXPECT_TRUE(ReloadTags(session_));
  EXPECT_EQ(session_.items.size(), 1u);
  EXPECT_EQ(session_.handleByItemId["G.I.Text"], textHandle);
}

TEST_F(OpcSessionTest, LongLeafNamesAreKeptWhole) {
  std::string longLeaf(300, 'L');
  Write("simulation.ini", "[server]\n[items]\nG.I." + longLeaf + "=VT_I4,static,4\n");
  Connect({longLeaf});
  TextList leaves;
  BrowseLeafItems(session_, "G", "I", &leaves);
  ASSERT_EQ(leaves.size(), 1u);
  EXPECT_EQ(leaves[0], longLeaf);
  EXPECT_EQ(session_.typeByItemId["G.I." + longLeaf], opc::VT_I4);
  EXPECT_NE(ReadTags(session_, "G", "I", longLeaf).find("\"v\":\"4\""), std::string::npos);
  EXPECT_EQ(ListLeafItems(session_, "G", "I", ""), "[\"" + longLeaf + "\"]");
}

}  // namespace
