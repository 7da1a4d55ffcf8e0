#include "opc/tag_operations.h"

#include <gtest/gtest.h>

#include "tests/support/opc_test_session.h"

namespace {

TEST_F(OpcSessionTest, ReadTagsKeepsRequestOrderAndEmptyNames) {
  Connect({"Small", "Text"});
  std::string answer = ReadTags(session_, "G", "I", "Small,,Text");
  EXPECT_EQ(answer.rfind("[{\"i\":\"Small\",\"v\":\"1\",\"t\":", 0), 0u) << answer;
  EXPECT_NE(answer.find("},{\"i\":\"\",\"v\":\"\",\"t\":"), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"start\""), std::string::npos) << answer;
  // A trailing comma adds no record.
  std::string trailing = ReadTags(session_, "G", "I", "Small,Text,");
  size_t records = 0;
  for (size_t at = trailing.find("{\"i\":"); at != std::string::npos;
       at = trailing.find("{\"i\":", at + 1)) {
    ++records;
  }
  EXPECT_EQ(records, 2u) << trailing;
  // A made-up name reads with handle 0 and is not remembered.
  size_t before = session_.handleByItemId.size();
  EXPECT_NE(ReadTags(session_, "G", "I", "NeverAdded").find("\"v\":\"\""), std::string::npos);
  EXPECT_EQ(session_.handleByItemId.size(), before);
  EXPECT_EQ(session_.handleByItemId.count("G.I.NeverAdded"), 0u);
}

TEST_F(OpcSessionTest, ReadsWithoutSyncIOOrWithAFailingServer) {
  EXPECT_EQ(ReadTags(session_, "G", "I", "Small"), "Read error");
  EXPECT_EQ(ReadAllItems(session_), "No Tags");
  Write("simulation.ini", SimulationWithFault("read"));
  Connect({"Small"});
  EXPECT_EQ(session_.connected, 1);
  EXPECT_EQ(ReadTags(session_, "G", "I", "Small"), "Read error");
  EXPECT_EQ(session_.connected, 1);
  EXPECT_EQ(ReadAllItems(session_), "Read error");
  EXPECT_EQ(session_.connected, 0);
  session_.connected = 1;
  env_.TakeConsole();
  std::vector<ItemValue> values;
  EXPECT_FALSE(ReadItemValues(session_, 1, &values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(session_.connected, 0);
  EXPECT_EQ(env_.TakeConsole(), "\nRead error");
}

TEST_F(OpcSessionTest, ItemValuesAreReadInTableOrderUpToTheTablesEnd) {
  Connect({"Small", "Text"});
  std::vector<ItemValue> values;
  ASSERT_TRUE(ReadItemValues(session_, 2, &values));
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, "Small");
  EXPECT_EQ(values[0].text, "1");
  EXPECT_EQ(values[1].name, "Text");
  EXPECT_EQ(values[1].text, "start");
  // Each value's record is the one an API read gives.
  std::string all = ReadAllItems(session_);
  EXPECT_EQ(all, "[" + values[0].record + "," + values[1].record + "]");
  EXPECT_EQ(values[0].record.rfind("{\"i\":\"Small\",\"v\":\"1\",\"t\":", 0), 0u);
  ASSERT_TRUE(ReadItemValues(session_, 1, &values));
  EXPECT_EQ(values.size(), 1u);
  // More than the table never walks past it; none reads nothing.
  ASSERT_TRUE(ReadItemValues(session_, 5, &values));
  EXPECT_EQ(values.size(), 2u);
  ASSERT_TRUE(ReadItemValues(session_, 0, &values));
  EXPECT_TRUE(values.empty());
}

TEST_F(OpcSessionTest, WriteTagsSplitsAtTheLastColonAndUsesBrowsedTypes) {
  Connect({"Small", "Text", "T1:a", "Flag", "Byte", ""});
  TextList leaves;
  BrowseLeafItems(session_, "G", "I", &leaves);
  EXPECT_EQ(session_.typeByItemId["G.I.Small"], opc::VT_I2);
  EXPECT_EQ(WriteTags(session_, "G", "I", ""), "No tags");
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:5,T1:a:b,Flag:TRUE,Byte:5"), "ok");
  std::string answer = ReadTags(session_, "G", "I", "Small,T1:a,Flag,Byte");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"5\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"T1:a\",\"v\":\"b\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Flag\",\"v\":\"-1\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Byte\",\"v\":\"53\""), std::string::npos) << answer;
  // Nothing after the colon is no number: the numeric item keeps its value,
  // the string item becomes empty.
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:,Text:"), "error");
  answer = ReadTags(session_, "G", "I", "Small,Text");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"5\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"\""), std::string::npos) << answer;
  // An unknown id goes out with handle 0: the server refuses that entry and
  // writes the other.
  size_t types = session_.typeByItemId.size();
  env_.TakeConsole();
  EXPECT_EQ(WriteTags(session_, "G", "I", "Unknown:1,Small:7"), "error");
  EXPECT_EQ(env_.TakeConsole(), "\nWrite refused: Unknown: The value of the handle is invalid.");
  EXPECT_NE(ReadTags(session_, "G", "I", "Small").find("\"v\":\"7\""), std::string::npos);
  EXPECT_EQ(session_.typeByItemId.size(), types);
  EXPECT_EQ(session_.handleByItemId.count("G.I.Unknown"), 0u);
}

TEST_F(OpcSessionTest, ARefusedEntryAnswersErrorNamesTheTagAndTheOthersAreWritten) {
  Connect({"Small", "Fixed", "Text"});
  TextList leaves;
  ASSERT_TRUE(BrowseLeafItems(session_, "G", "I", &leaves));
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:3,Fixed:9,Text:new"), "error");
  EXPECT_EQ(env_.TakeConsole(),
            "\nWrite refused: Fixed: The item's access rights do not allow the operation.");
  std::string answer = ReadTags(session_, "G", "I", "Small,Fixed,Text");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"3\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Fixed\",\"v\":\"5\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"new\""), std::string::npos) << answer;
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:4,Text:newer"), "ok");
  EXPECT_EQ(env_.TakeConsole(), "");
}

TEST_F(OpcSessionTest, ANumericEntryThatIsNoNumberIsRefusedNamedAndTheOthersWritten) {
  Connect({"Small", "AI1", "Text"});
  TextList leaves;
  ASSERT_TRUE(BrowseLeafItems(session_, "G", "I", &leaves));
  env_.TakeConsole();
  struct Case {
    const char* tagkvs;
    const char* console;
  };
  const Case cases[] = {
      {"AI1:abc", "\nWrite refused: AI1: \"abc\" is not a number"},
      {"AI1:12abc,Text:x", "\nWrite refused: AI1: \"12abc\" is not a number"},
      {"Small:70000,AI1:",
       "\nWrite refused: Small: \"70000\" is not a whole number from -32768 "
       "to 32767\nWrite refused: AI1: \"\" is not a number"},
      {"AI1:1\n2", "\nWrite refused: AI1: \"1?2\" is not a number"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteTags(session_, "G", "I", c.tagkvs), "error") << c.tagkvs;
    EXPECT_EQ(env_.TakeConsole(), c.console) << c.tagkvs;
  }
  // None of the refused values reached the server; the good entry did.
  std::string answer = ReadTags(session_, "G", "I", "Small,AI1,Text");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"1\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"AI1\",\"v\":\"1.500000\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"x\""), std::string::npos) << answer;
  // A hostile text is shown short, on one line.
  EXPECT_EQ(WriteTags(session_, "G", "I", "AI1:" + std::string(1000, '9') + "x"), "error");
  std::string line = env_.TakeConsole();
  EXPECT_EQ(line, "\nWrite refused: AI1: \"" + std::string(64, '9') + "...\" is not a number");
  // Blanks around a number are no part of it.
  EXPECT_EQ(WriteTags(session_, "G", "I", "AI1: 7.5 ,Small: -3"), "ok");
  EXPECT_EQ(env_.TakeConsole(), "");
  answer = ReadTags(session_, "G", "I", "Small,AI1");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"-3\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"AI1\",\"v\":\"7.500000\""), std::string::npos) << answer;
}

TEST_F(OpcSessionTest, BoolTrueGoesOutAsVariantTrueAndReadsBackAsSent) {
  Connect({"Flag"});
  TextList leaves;
  ASSERT_TRUE(BrowseLeafItems(session_, "G", "I", &leaves));
  // The simulation keeps a VT_BOOL as the client sent it, as COM does.
  EXPECT_EQ(WriteTags(session_, "G", "I", "Flag:true"), "ok");
  EXPECT_NE(ReadTags(session_, "G", "I", "Flag").find("\"v\":\"-1\""), std::string::npos);
  EXPECT_EQ(WriteTags(session_, "G", "I", "Flag:no"), "ok");
  EXPECT_NE(ReadTags(session_, "G", "I", "Flag").find("\"v\":\"0\""), std::string::npos);
}

TEST_F(OpcSessionTest, WriteWithoutSyncIOOrFailingServerAnswersError) {
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:1"), "error");
  Write("simulation.ini", SimulationWithFault("write"));
  Connect({"Small"});
  EXPECT_EQ(WriteTags(session_, "G", "I", "Small:1"), "error");
  EXPECT_EQ(session_.connected, 1);
}

TEST_F(OpcSessionTest, ListLeafItemsFiltersAndEscapes) {
  Connect({"Small"});
  EXPECT_EQ(ListLeafItems(session_, "G", "I", "AI,DO"), "[\"AI1\",\"DO1\",\"AI2\"]");
  EXPECT_EQ(ListLeafItems(session_, "G", "J", ""), "[\"Other\"]");
  // A branch the server does not know lists nothing (not the root's leaf),
  // and the position goes back to the root.
  EXPECT_EQ(ListLeafItems(session_, "G", "Nothing", ""), "[]");
  EXPECT_EQ(ListLeafItems(session_, "G", "J", ""), "[\"Other\"]");
  std::string all = ListLeafItems(session_, "G", "I", "");
  EXPECT_NE(all.find("\"Quote\\\"d\""), std::string::npos) << all;
  Write("simulation.ini", SimulationWithFault("nobrowse"));
  ASSERT_EQ(Connect(), ConnectResult::kConnected);
  EXPECT_EQ(ListLeafItems(session_, "G", "I", ""), "[]");
}

}  // namespace
