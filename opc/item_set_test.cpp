#include "opc/item_set.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "opc/tag_operations.h"
#include "tests/support/opc_test_session.h"

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
  ASSERT_EQ(session_.items.size(), 2u);
  EXPECT_EQ(session_.items[1].tagName, "Text");
  // A reload that drops a tag lets go of its handle: the server has removed
  // the item, and may give the handle to another one.
  ASSERT_NE(session_.handleByItemId.count("G.I.Text"), 0u);
  Write("tags.txt", "Small\n");
  env_.TakeConsole();
  EXPECT_TRUE(ReloadTags(session_));
  EXPECT_EQ(session_.items.size(), 1u);
  EXPECT_EQ(session_.handleByItemId.count("G.I.Text"), 0u);
  EXPECT_NE(ReadTags(session_, "G", "I", "Text").find("\"v\":\"\""), std::string::npos);
}

TEST_F(OpcSessionTest, TagNamesAreTheLinesWithoutWhatAnEditorAddsAroundThem) {
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
  struct Case {
    const char* content;
    std::vector<std::string> names;
    const char* told;  // the lines about names listed again
  };
  const Case cases[] = {
      {"\xEF\xBB\xBFSmall\nText\n", {"Small", "Text"}, ""},
      {"Small \r\nText\t\r\r\n", {"Small", "Text"}, ""},
      {"\n\nSmall\n  \n\r\n\nText", {"Small", "Text"}, ""},
      {"Small\nText\nSmall\nSmall \nText\n",
       {"Small", "Text"},
       "\nTag listed more than once, added once: Small"
       "\nTag listed more than once, added once: Text"},
      // Blanks before a name, and a mark not at the start, are the operator's.
      {" Small\nText\xEF\xBB\xBF\n", {" Small", "Text\xEF\xBB\xBF"}, ""},
      {"\xEF\xBB\xBF\r\n \n", {}, ""},
  };
  for (const Case& c : cases) {
    Write("tags.txt", c.content);
    env_.TakeConsole();
    ASSERT_TRUE(ReloadTags(session_));
    std::vector<std::string> names;
    for (const OpcItem& entry : session_.items) names.push_back(entry.tagName);
    EXPECT_EQ(names, c.names) << c.content;
    std::string out = env_.TakeConsole();
    std::string told;
    for (size_t at = out.find("\nTag listed"); at != std::string::npos;
         at = out.find("\nTag listed", at + 1)) {
      told += out.substr(at, out.find('\n', at + 1) - at);
    }
    EXPECT_EQ(told, c.told) << out;
  }
}

TEST_F(OpcSessionTest, AReloadRemovesThePreviousItemsFromTheServer) {
  Write("simulation.ini", std::string(kSessionSimulation).replace(9, 0, "counts=1\n"));
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
  Write("tags.txt", "Small\nText\nMissing\nAI1\n");
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(ReloadTags(session_));
  EXPECT_EQ(Read("simulation.counts"), "items=3\n");
  EXPECT_EQ(session_.handleByItemId.size(), 3u);
  EXPECT_EQ(session_.itemsAdded.load(), 3);
  // An emptied tags file lets go of every item.
  Write("tags.txt", "\n");
  ASSERT_TRUE(ReloadTags(session_));
  EXPECT_EQ(Read("simulation.counts"), "items=0\n");
  EXPECT_TRUE(session_.handleByItemId.empty());
  // A new group holds none of the old group's items: its handles are
  // forgotten, and the old group takes its items with it when let go.
  Write("tags.txt", "Small\nText\n");
  ASSERT_TRUE(ReloadTags(session_));
  ASSERT_EQ(CreateGroup(session_, "G"), GroupResult::kCreated);
  EXPECT_TRUE(session_.handleByItemId.empty());
  EXPECT_EQ(session_.items[0].serverHandle, 0u);
  env_.TakeConsole();
  ASSERT_TRUE(ReloadTags(session_));
  EXPECT_EQ(Read("simulation.counts"), "items=2\n");
  EXPECT_EQ(env_.TakeConsole().find("Remove item error"), std::string::npos);
}

TEST_F(OpcSessionTest, ARemovalTheServerRefusesIsToldAndTheNewSetStillAdded) {
  Write("simulation.ini", SimulationWithFault("removeitems"));
  Connect({"Small"});
  Write("tags.txt", "Text\n");
  ASSERT_TRUE(ReloadTags(session_));
  std::string out = env_.TakeConsole();
  EXPECT_EQ(out.rfind("\nRemove item error: Unspecified error\nItems adding...!", 0), 0u) << out;
  EXPECT_NE(out.find("\n1:[OK] Text"), std::string::npos) << out;
  EXPECT_EQ(session_.handleByItemId.count("G.I.Small"), 0u);
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
