#include "opc/opc_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "common/process_paths.h"
#include "opc/opc_session.h"
#include "platform/codepage.h"
#include "sim/sim_engine.h"

namespace fs = std::filesystem;

namespace {

opc::Variant Integer(uint16_t vt, int64_t value) {
  opc::Variant v;
  v.vt = vt;
  v.integer = value;
  return v;
}
opc::Variant Real(uint16_t vt, double value) {
  opc::Variant v;
  v.vt = vt;
  v.real = value;
  return v;
}
opc::Variant Text(const std::u16string& text) {
  opc::Variant v;
  v.vt = opc::VT_BSTR;
  v.text = text;
  return v;
}

struct TextCase {
  opc::Variant value;
  std::string text;
};

TEST(VariantToText, RendersEachTypeAsTheAgentReportsIt) {
  const TextCase cases[] = {
      {opc::Variant{}, ""},
      {Integer(opc::VT_NULL, 0), ""},
      {Integer(opc::VT_I2, -12), "-12"},
      {Integer(opc::VT_I4, 2147483647), "2147483647"},
      {Real(opc::VT_R4, 2.5), "2.500000"},
      {Real(opc::VT_R8, -0.125), "-0.125000"},
      {Real(opc::VT_DATE, 44843.5), "Sunday,October09,2022"},
      {Real(opc::VT_DATE, 0.0), "Saturday,December30,1899"},
      {Real(opc::VT_DATE, -0.5), "Saturday,December30,1899"},
      {Real(opc::VT_DATE, 1e300), ""},
      {Real(opc::VT_DATE, -1e12), ""},
      {Real(opc::VT_DATE, std::nan("")), ""},
      {Text(u"pump \u00e9"), platform::Utf16ToAnsi(u"pump \u00e9")},
      {Integer(opc::VT_BOOL, -1), "-1"},
      {Integer(opc::VT_BOOL, 0), "0"},
      {Integer(opc::VT_UI1, 200), "200"},
      {Integer(opc::VT_UI2, 5), ""},
      {Integer(opc::VT_UI4, 5), ""},
      {Integer(opc::VT_I1, 5), ""},
      {Integer(opc::VT_I8, 5), ""},
      {Integer(opc::VT_INT, 5), ""},
      {Integer(opc::VT_CY, 50000), ""},
      {Integer(opc::VT_I4 | opc::VT_ARRAY, 5), ""},
      {Integer(opc::VT_I4 | opc::VT_BYREF, 5), ""},
  };
  for (const TextCase& c : cases) {
    EXPECT_EQ(VariantToText(c.value), c.text) << "vt " << c.value.vt;
  }
}

struct VariantCase {
  int32_t type;
  std::string text;
  uint16_t vt;
  int64_t integer;
  double real;
  std::u16string wide;
};

TEST(TextToVariant, ConvertsToTheItemsCanonicalType) {
  const VariantCase cases[] = {
      {opc::VT_I2, "5", opc::VT_I2, 5, 0, u""},
      {opc::VT_I2, "  -7xyz", opc::VT_I2, -7, 0, u""},
      {opc::VT_I2, "70000", opc::VT_I2, 4464, 0, u""},  // kept in 16 bits
      {opc::VT_UI2, "65535", opc::VT_UI2, 65535, 0, u""},
      {opc::VT_I4, "", opc::VT_I4, 0, 0, u""},
      {opc::VT_I4, "99999999999", opc::VT_I4, 2147483647, 0, u""},
      {opc::VT_I4, "-99999999999", opc::VT_I4, -2147483648LL, 0, u""},
      {opc::VT_UI4, "-1", opc::VT_UI4, 4294967295LL, 0, u""},
      {opc::VT_INT, "+12", opc::VT_INT, 12, 0, u""},
      {opc::VT_R4, "2.5e1x", opc::VT_R4, 0, 25.0, u""},
      {opc::VT_R8, " -1.25", opc::VT_R8, 0, -1.25, u""},
      {opc::VT_R8, "abc", opc::VT_R8, 0, 0.0, u""},
      {opc::VT_R8, "0x10", opc::VT_R8, 0, 0.0, u""},
      {opc::VT_BSTR, "pump", opc::VT_BSTR, 0, 0, u"pump"},
      {opc::VT_BOOL, "TRUE", opc::VT_BOOL, 1, 0, u""},
      {opc::VT_BOOL, "True", opc::VT_BOOL, 1, 0, u""},
      {opc::VT_BOOL, "1", opc::VT_BOOL, 1, 0, u""},
      {opc::VT_BOOL, "yes", opc::VT_BOOL, 0, 0, u""},
      {opc::VT_UI1, "5", opc::VT_UI1, 53, 0, u""},
      {opc::VT_UI1, "", opc::VT_UI1, 0, 0, u""},
      {opc::VT_I1, "A", opc::VT_I1, 65, 0, u""},
      {0, "7", opc::VT_BSTR, 0, 0, u"7"},
      {opc::VT_DATE, "44843", opc::VT_BSTR, 0, 0, u"44843"},
  };
  for (const VariantCase& c : cases) {
    opc::Variant v = TextToVariant(c.type, c.text);
    EXPECT_EQ(v.vt, c.vt) << c.type << " " << c.text;
    EXPECT_EQ(v.integer, c.integer) << c.type << " " << c.text;
    EXPECT_DOUBLE_EQ(v.real, c.real) << c.type << " " << c.text;
    EXPECT_EQ(v.text, c.wide) << c.type << " " << c.text;
  }
}

TEST(TimeStampSeconds, IsUnixTimeMinusEightHoursInThirtyTwoBits) {
  const uint64_t epoch = 116444736000000000ULL;
  EXPECT_EQ(TimeStampSeconds(epoch), -28800);
  // 2022-10-09 00:00:00 UTC = 1665273600 gives 16:00 of the day before.
  EXPECT_EQ(TimeStampSeconds(epoch + 1665273600ULL * 10000000ULL), 1665273600 - 28800);
  EXPECT_EQ(TimeStampSeconds(epoch + 15ULL * 10000000ULL + 9999999ULL), 15 - 28800);
  // A zero time stamp wraps modulo 2^64.
  uint64_t wrapped = (0ULL - epoch) / 10000000ULL - 28800ULL;
  EXPECT_EQ(TimeStampSeconds(0), static_cast<int32_t>(static_cast<uint32_t>(wrapped)));
  EXPECT_LT(TimeStampSeconds(0), 0);
}

TEST(ItemId, JoinsGroupItemAndTagWithDots) {
  EXPECT_EQ(ItemId("G", "I", "T"), "G.I.T");
  EXPECT_EQ(ItemId("G", "I", ""), "G.I.");
  std::string longTag(400, 'x');
  EXPECT_EQ(ItemId("G", "I", longTag).size(), 404u);
}

TEST(ValueRecord, IsAlwaysValidJson) {
  EXPECT_EQ(ValueRecord("T1", "5", 12), "{\"i\":\"T1\",\"v\":\"5\",\"t\":12}");
  EXPECT_EQ(ValueRecord("a\"b", "c\\d\n", -3), "{\"i\":\"a\\\"b\",\"v\":\"c\\\\d\\n\",\"t\":-3}");
}

TEST(TagLines, KeepsEveryLineExactly) {
  EXPECT_EQ(TagLines("A\n\nB\n"), (TextList{"A", "", "B"}));
  EXPECT_EQ(TagLines("A\r\nB"), (TextList{"A", "B"}));
  EXPECT_EQ(TagLines(" A \n"), (TextList{" A "}));
  EXPECT_EQ(TagLines(""), TextList{});
  EXPECT_EQ(TagLines("\n"), TextList{""});
}

std::atomic<int> sessionFolders{0};

const char* const kSessionSimulation =
    "[server]\nprogid=Talvero.Simulation.1\nfail=\n\n[items]\n"
    "G.I.Small=VT_I2,static,1\n"
    "G.I.Text=VT_BSTR,static,start\n"
    "G.I.T1:a=VT_BSTR,static,none\n"
    "G.I.Flag=VT_BOOL,static,false\n"
    "G.I.Byte=VT_UI1,static,0\n"
    "G.I.AI1=VT_R8,static,1.5\n"
    "G.I.DO1=VT_R8,static,2\n"
    "G.I.AI2=VT_R8,static,3\n"
    "G.I.Quote\"d=VT_BSTR,static,say \"hi\"\n"
    "G.J.Other=VT_I4,static,9\n";

// A connector over the engine itself, so these cases run in every build.
class EngineConnector : public opc::OpcConnector {
 public:
  explicit EngineConnector(std::string folder) { environment_.folder = folder; }
  opc::Result CreateServerList(const opc::CreationTarget&,
                               std::shared_ptr<opc::OpcServerList>* list) override {
    return sim::CreateSimServerList(environment_, list);
  }
  opc::Result CreateServer(const opc::ClassId& id, const opc::CreationTarget&,
                           std::shared_ptr<opc::OpcObject>* server) override {
    return sim::CreateSimServer(environment_, id, server);
  }
  std::string SystemMessageText(opc::Result result) override {
    return result == opc::kFail ? "Unspecified error\r\n" : "";
  }

 private:
  sim::SimEnvironment environment_;
};

class OpcClientTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = (fs::temp_directory_path() / ("talvero-client-" + std::to_string(std::rand()) + "-" +
                                          std::to_string(++sessionFolders)))
                .string();
    fs::create_directories(fs::path(base_) / "data");
    Write("simulation.ini", kSessionSimulation);
    savedPaths_ = processPaths;
    savedSettings_ = agentSettings;
    processPaths.baseDirectory = base_;
    agentSettings.group = "G";
    agentSettings.item = "I";
    agentSettings.autoitems = true;
    agentSettings.itemstartsList.clear();
    connector_.reset(new EngineConnector((fs::path(base_) / "data").string()));
    session_ = opcSession;
    opcSession = new OpcSession;
    opcSession->connector = connector_.get();
  }
  void TearDown() override {
    delete opcSession;
    opcSession = session_;
    processPaths = savedPaths_;
    agentSettings = savedSettings_;
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream out(fs::path(base_) / "data" / name, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(fs::path(base_) / "data" / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Connect(const std::vector<std::string>& tags) {
    ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
    ASSERT_EQ(CreateGroup("G"), 0);
    AddItemSet("G", "I", tags);
  }

  std::string base_;
  std::unique_ptr<EngineConnector> connector_;
  OpcSession* session_ = nullptr;
  ProcessPaths savedPaths_;
  AgentSettings savedSettings_;
};

TEST_F(OpcClientTest, ANewSessionIsEmpty) {
  EXPECT_EQ(opcSession->connected, 0);
  EXPECT_FALSE(opcSession->serverObject || opcSession->opcServer || opcSession->itemMgt ||
               opcSession->syncIO);
  EXPECT_TRUE(opcSession->handleByItemId.empty() && opcSession->typeByItemId.empty() &&
              opcSession->items.empty());
}

TEST_F(OpcClientTest, DiscoveryPicksTheLastCaseInsensitiveMatch) {
  Write("simulation.ini",
        "[server]\nprogid=Talvero.Simulation.1\nothers="
        "TALVERO.simulation.1|Older\n");
  opc::ClassId id{};
  testing::internal::CaptureStdout();
  EXPECT_EQ(DiscoverServer("", "", "", "", "talvero.SIMULATION.1", false, &id), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(id, sim::kSimServerClassId);
  if (!out.empty()) {
    EXPECT_NE(out.find("\n1: ProgID = TALVERO.simulation.1 (Older)\n2: ProgID "
                       "= Talvero.Simulation.1 "
                       "(Talvero Simulation Server)"),
              std::string::npos)
        << out;
  }
  EXPECT_EQ(DiscoverServer("", "", "", "", "Nothing.Here", false, &id), 8);
  Write("simulation.ini", "[server]\nfail=enum\n");
  EXPECT_EQ(DiscoverServer("", "", "", "", "Talvero.Simulation.1", false, &id), 6);
  Write("simulation.ini", "[server]\nfail=list   ; inline comment\n");
  EXPECT_EQ(DiscoverServer("", "", "", "", "Talvero.Simulation.1", false, &id), 4);
}

TEST_F(OpcClientTest, ConnectAndGroupFailuresGiveTheirCodes) {
  EXPECT_EQ(ConnectServer("", "", "", "", opc::ClassId{}, false), 32);
  EXPECT_FALSE(opcSession->serverObject);
  Write("simulation.ini", "[server]\nfail=noserver\n");
  EXPECT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 64);
  EXPECT_EQ(opcSession->connected, 0);
  Write("simulation.ini", "[server]\nfail=addgroup\n");
  EXPECT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  EXPECT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  EXPECT_EQ(CreateGroup("G"), 1);
  Write("simulation.ini", "[server]\nfail=noitemmgt\n");
  EXPECT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  EXPECT_EQ(CreateGroup("G"), 2);
  EXPECT_FALSE(opcSession->itemMgt);
}

TEST_F(OpcClientTest, ComErrorTextStripsLineEndsAndNamesUnknownCodes) {
  EXPECT_EQ(ComErrorText(opc::kFail), "Unspecified error");
  EXPECT_EQ(ComErrorText(static_cast<int32_t>(0x80040205)), "IDispatch error #5");
  EXPECT_EQ(ComErrorText(static_cast<int32_t>(0x80070666)), "Unknown error 0x80070666");
}

TEST_F(OpcClientTest, AddItemSetPrintsOkAndNoLinesAndTotals) {
  ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  ASSERT_EQ(CreateGroup("G"), 0);
  testing::internal::CaptureStdout();
  AddItemSet("G", "I", {"Small", "", "Missing"});
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(opcSession->items.size(), 3u);
  EXPECT_NE(opcSession->items[0].serverHandle, 0u);
  EXPECT_EQ(opcSession->items[1].serverHandle, 0u);
  EXPECT_EQ(opcSession->handleByItemId.count("G.I.Small"), 1u);
  EXPECT_EQ(opcSession->handleByItemId.count("G.I."), 0u);
  if (out.empty()) GTEST_SKIP() << "console output does not go through standard output here";
  EXPECT_NE(out.find("\nItems adding...!"), std::string::npos) << out;
  EXPECT_NE(out.find("\n1:[OK] Small"), std::string::npos) << out;
  EXPECT_NE(out.find("\n2:[NO] "), std::string::npos) << out;
  EXPECT_NE(out.find("\n3:[NO] Missing"), std::string::npos) << out;
  EXPECT_NE(out.find("\nItems update completed! "), std::string::npos) << out;
  EXPECT_NE(out.find("Success 1"), std::string::npos) << out;
  EXPECT_NE(out.find("Failure 2"), std::string::npos) << out;
}

TEST_F(OpcClientTest, AddItemSetWithoutItemMgtOrNamesChangesNothingOnTheServer) {
  testing::internal::CaptureStdout();
  AddItemSet("G", "I", {"Small"});
  AddItemSet("G", "I", {});
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(opcSession->items.size(), 1u);
  EXPECT_EQ(opcSession->items[0].serverHandle, 0u);
  if (!out.empty()) {
    EXPECT_NE(out.find("\nAdd item error"), std::string::npos) << out;
    EXPECT_NE(out.find("\nNo item added"), std::string::npos) << out;
  }
}

TEST_F(OpcClientTest, ReadTagsKeepsRequestOrderAndEmptyNames) {
  Connect({"Small", "Text"});
  std::string answer = ReadTags("G", "I", "Small,,Text");
  EXPECT_EQ(answer.rfind("[{\"i\":\"Small\",\"v\":\"1\",\"t\":", 0), 0u) << answer;
  EXPECT_NE(answer.find("},{\"i\":\"\",\"v\":\"\",\"t\":"), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"start\""), std::string::npos) << answer;
  EXPECT_EQ(ReadTags("G", "I", "Small,Text,").find("},{"), answer.find("},{"));
  // A made-up name reads with handle 0 and is not remembered.
  size_t before = opcSession->handleByItemId.size();
  EXPECT_NE(ReadTags("G", "I", "NeverAdded").find("\"v\":\"\""), std::string::npos);
  EXPECT_EQ(opcSession->handleByItemId.size(), before);
  EXPECT_EQ(opcSession->handleByItemId.count("G.I.NeverAdded"), 0u);
}

TEST_F(OpcClientTest, ReadsWithoutSyncIOOrWithAFailingServer) {
  EXPECT_EQ(ReadTags("G", "I", "Small"), "Read error");
  EXPECT_EQ(ReadAllItems(), "No Tags");
  Write("simulation.ini",
        std::string(kSessionSimulation)
            .replace(std::string(kSessionSimulation).find("fail="), 5, "fail=read"));
  Connect({"Small"});
  EXPECT_EQ(opcSession->connected, 1);
  EXPECT_EQ(ReadTags("G", "I", "Small"), "Read error");
  EXPECT_EQ(opcSession->connected, 1);
  EXPECT_EQ(ReadAllItems(), "Read error");
  EXPECT_EQ(opcSession->connected, 0);
  opcSession->connected = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadChangedItems(1, {"Small"}), "");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(opcSession->connected, 0);
}

TEST_F(OpcClientTest, ChangedReadsReportOnlyChangesAndShareLastValueWithReadAll) {
  Connect({"Small", "Text"});
  std::string first = ReadChangedItems(2, {"Small", "Text"});
  EXPECT_NE(first.find("{\"i\":\"Small\",\"v\":\"1\""), std::string::npos) << first;
  EXPECT_NE(first.find("},{\"i\":\"Text\""), std::string::npos) << first;
  EXPECT_EQ(first.front(), '{');
  EXPECT_EQ(ReadChangedItems(2, {"Small", "Text"}), "");
  EXPECT_EQ(ReadChangedItems(0, {}), "");
  EXPECT_EQ(WriteTags("G", "I", "Text:changed"), "ok");
  std::string all = ReadAllItems();
  EXPECT_NE(all.find("\"v\":\"changed\""), std::string::npos) << all;
  EXPECT_EQ(ReadChangedItems(2, {"Small", "Text"}), "");
  // More names than items never walks past the table.
  EXPECT_EQ(ReadChangedItems(5, {"Small", "Text", "X", "Y", "Z"}), "");
}

TEST_F(OpcClientTest, WriteTagsSplitsAtTheLastColonAndUsesBrowsedTypes) {
  Connect({"Small", "Text", "T1:a", "Flag", "Byte", ""});
  TextList leaves;
  BrowseLeafItems("G", "I", &leaves);
  EXPECT_EQ(opcSession->typeByItemId["G.I.Small"], opc::VT_I2);
  EXPECT_EQ(WriteTags("G", "I", ""), "No tags");
  EXPECT_EQ(WriteTags("G", "I", "Small:5,T1:a:b,Flag:TRUE,Byte:5"), "ok");
  std::string answer = ReadTags("G", "I", "Small,T1:a,Flag,Byte");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"5\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"T1:a\",\"v\":\"b\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Flag\",\"v\":\"-1\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Byte\",\"v\":\"53\""), std::string::npos) << answer;
  EXPECT_EQ(WriteTags("G", "I", "Small:,Text:"), "ok");
  answer = ReadTags("G", "I", "Small,Text");
  EXPECT_NE(answer.find("{\"i\":\"Small\",\"v\":\"0\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("{\"i\":\"Text\",\"v\":\"\""), std::string::npos) << answer;
  // An unknown id goes out with handle 0; the call still succeeds.
  size_t types = opcSession->typeByItemId.size();
  EXPECT_EQ(WriteTags("G", "I", "Unknown:1,Small:7"), "ok");
  EXPECT_EQ(opcSession->typeByItemId.size(), types);
  EXPECT_EQ(opcSession->handleByItemId.count("G.I.Unknown"), 0u);
}

TEST_F(OpcClientTest, WriteWithoutSyncIOOrFailingServerAnswersError) {
  EXPECT_EQ(WriteTags("G", "I", "Small:1"), "error");
  Write("simulation.ini",
        std::string(kSessionSimulation)
            .replace(std::string(kSessionSimulation).find("fail="), 5, "fail=write"));
  Connect({"Small"});
  EXPECT_EQ(WriteTags("G", "I", "Small:1"), "error");
  EXPECT_EQ(opcSession->connected, 1);
}

TEST_F(OpcClientTest, ListLeafItemsFiltersAndEscapes) {
  Connect({"Small"});
  EXPECT_EQ(ListLeafItems("G", "I", "AI,DO"), "[\"AI1\",\"DO1\",\"AI2\"]");
  EXPECT_EQ(ListLeafItems("G", "J", ""), "[\"Other\"]");
  EXPECT_EQ(ListLeafItems("G", "Nothing", ""), "[]");
  std::string all = ListLeafItems("G", "I", "");
  EXPECT_NE(all.find("\"Quote\\\"d\""), std::string::npos) << all;
  Write("simulation.ini",
        std::string(kSessionSimulation)
            .replace(std::string(kSessionSimulation).find("fail="), 5, "fail=nobrowse"));
  ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  EXPECT_EQ(ListLeafItems("G", "I", ""), "[]");
}

TEST_F(OpcClientTest, LongLeafNamesAreKeptWhole) {
  std::string longLeaf(300, 'L');
  Write("simulation.ini", "[server]\n[items]\nG.I." + longLeaf + "=VT_I4,static,4\n");
  Connect({longLeaf});
  TextList leaves;
  BrowseLeafItems("G", "I", &leaves);
  ASSERT_EQ(leaves.size(), 1u);
  EXPECT_EQ(leaves[0], longLeaf);
  EXPECT_EQ(opcSession->typeByItemId["G.I." + longLeaf], opc::VT_I4);
  EXPECT_NE(ReadTags("G", "I", longLeaf).find("\"v\":\"4\""), std::string::npos);
  EXPECT_EQ(ListLeafItems("G", "I", ""), "[\"" + longLeaf + "\"]");
}

TEST_F(OpcClientTest, RefreshWritesTheStoreAndCopiesOnlyWhenTheBrowseChanged) {
  Connect({"Small"});
  agentSettings.itemstartsList = {"AI"};
  Write("tags.txt", "operator's own\n");
  RefreshTagsFile();
  EXPECT_EQ(Read("items.db"), "AI1\nAI2\n");
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  // Same leaves: the store is rewritten, the tags file left alone.
  Write("tags.txt", "edited\n");
  RefreshTagsFile();
  EXPECT_EQ(Read("items.db"), "AI1\nAI2\n");
  EXPECT_EQ(Read("tags.txt"), "edited\n");
  // A new leaf on the server (rejected by the prefixes) changes the digest.
  std::string more = std::string(kSessionSimulation) + "G.I.DO9=VT_I2,static,1\n";
  Write("simulation.ini", more);
  ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  RefreshTagsFile();
  EXPECT_EQ(Read("tags.txt"), "AI1\nAI2\n");
  // Nothing happens without autoitems or a connection.
  Write("tags.txt", "kept\n");
  Write("simulation.ini", std::string(kSessionSimulation) + "G.I.AI7=VT_I2,static,1\n");
  ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  agentSettings.autoitems = false;
  RefreshTagsFile();
  EXPECT_EQ(Read("tags.txt"), "kept\n");
}

TEST_F(OpcClientTest, ReloadTagsReadsTheFileOrReportsItMissing) {
  ASSERT_EQ(ConnectServer("", "", "", "", sim::kSimServerClassId, false), 0);
  ASSERT_EQ(CreateGroup("G"), 0);
  EXPECT_FALSE(ReloadTags());
  Write("tags.txt", "Small\n\nText");
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ReloadTags());
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(opcSession->items.size(), 3u);
  EXPECT_EQ(opcSession->items[1].tagName, "");
  EXPECT_EQ(opcSession->items[2].tagName, "Text");
  // A reload that drops a tag keeps its handle in the map.
  uint32_t textHandle = opcSession->handleByItemId["G.I.Text"];
  Write("tags.txt", "Small\n");
  testing::internal::CaptureStdout();
  EXPECT_TRUE(ReloadTags());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(opcSession->items.size(), 1u);
  EXPECT_EQ(opcSession->handleByItemId["G.I.Text"], textHandle);
}

TEST_F(OpcClientTest, AReconnectionAddsTheItemsBeforeAnyReadCanSeeTheNewConnection) {
  // A server that fails every read is noticed as lost ...
  std::string simulation = kSessionSimulation;
  Write("simulation.ini",
        std::string(simulation).replace(simulation.find("fail="), 5, "fail=read"));
  Write("tags.txt", "Small\nText\n");
  agentSettings.autoitems = false;
  agentSettings.group = "G";
  serverClassId = sim::kSimServerClassId;
  Connect({"Small", "Text"});
  EXPECT_EQ(ReadAllItems(), "Read error");
  ASSERT_EQ(opcSession->connected, 0);
  // ... and its healthy successor is connected by one supervisor tick. The
  // very next read (the sampler's, between two ticks) goes through the new
  // group: were it still read through the lost server's group it would fail
  // and count the fresh connection as lost, again and again.
  Write("simulation.ini", simulation);
  testing::internal::CaptureStdout();
  SuperviseTick();
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(opcSession->connected, 1);
  std::string values = ReadAllItems();
  EXPECT_EQ(values.rfind(R"([{"i":"Small","v":"1",)", 0), 0u) << values;
  EXPECT_EQ(opcSession->connected, 1);
  EXPECT_EQ(opcSession->items.size(), 2u);
}

}  // namespace
