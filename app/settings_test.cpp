#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ =
        (std::filesystem::temp_directory_path() /
         ("talvero-settings-" +
          std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".ini"))
            .string();
  }
  void TearDown() override { std::filesystem::remove(path_); }
  AgentSettings Load(const std::string& content) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    AgentSettings settings;
    EXPECT_EQ(LoadSettings(path_, &settings), 1);
    return settings;
  }
  std::string path_;
};

TEST_F(SettingsTest, EmptyFileGivesDefaults) {
  AgentSettings s = Load("");
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_EQ(s.itemscf, 60);
  EXPECT_EQ(s.sampleIntervalMs, 10000);
  EXPECT_EQ(s.port, 0);
  EXPECT_EQ(s.isautorun, 0);
  EXPECT_FALSE(s.isremote);
  EXPECT_FALSE(s.autoitems);
  EXPECT_FALSE(s.showread);
  EXPECT_EQ(s.timebias, 28800);
  EXPECT_FALSE(s.quality);
  EXPECT_TRUE(s.progid.empty());
  EXPECT_TRUE(s.api_host.empty());
  EXPECT_TRUE(s.itemstartsList.empty());
}

TEST_F(SettingsTest, FlagsAreOnOnlyForExactlyOne) {
  AgentSettings two = Load("[SERVER]\nisremote=2\n[ITEMS]\nautoitems=2\nshowread=2\n");
  EXPECT_FALSE(two.isremote);
  EXPECT_FALSE(two.autoitems);
  EXPECT_FALSE(two.showread);
  AgentSettings one = Load("[SERVER]\nisremote=1\n[ITEMS]\nautoitems=1\nshowread=1\nquality=1\n");
  EXPECT_TRUE(one.isremote);
  EXPECT_TRUE(one.autoitems);
  EXPECT_TRUE(one.showread);
  EXPECT_TRUE(one.quality);
  EXPECT_FALSE(Load("[ITEMS]\nquality=2\n").quality);
  EXPECT_EQ(Load("[ITEMS]\ntimebias=0\n").timebias, 0);
  EXPECT_EQ(Load("[ITEMS]\ntimebias=-3600\n").timebias, -3600);
}

TEST_F(SettingsTest, ItemStartsList) {
  EXPECT_EQ(Load("[ITEMS]\nitemstarts=A,B\n").itemstartsList, (TextList{"A", "B"}));
  EXPECT_EQ(Load("[ITEMS]\nitemstarts=A,\n").itemstartsList, (TextList{"A"}));
  EXPECT_EQ(Load("[ITEMS]\nitemstarts=,A\n").itemstartsList, (TextList{"", "A"}));
}

TEST_F(SettingsTest, LongTextsAreKeptWhole) {
  std::string url = "http://127.0.0.1:9/" + std::string(4200, 'p');
  std::string password(300, 's');
  AgentSettings s = Load("[SERVER]\npass=" + password + "\n[APIS]\napi_host=" + url + "\n");
  EXPECT_EQ(s.api_host, url);
  EXPECT_EQ(s.pass, password);
}

TEST_F(SettingsTest, IntervalIsHeldToItsRange) {
  EXPECT_EQ(Load("[ITEMS]\ncf=0\n").sampleIntervalMs, 10000);
  EXPECT_EQ(Load("[ITEMS]\ncf=3\n").sampleIntervalMs, 3000);
  EXPECT_EQ(Load("[ITEMS]\ncf=3000000\n").sampleIntervalMs, 10000);
  EXPECT_EQ(Load("[ITEMS]\ncf=-3000000\n").sampleIntervalMs, 10000);
  EXPECT_EQ(SecondsToMilliseconds(2147483), 2147483000);
  EXPECT_EQ(SecondsToMilliseconds(2147484), INT32_MAX);
}

// Each integer key against the values a hurried or hostile operator writes:
// what the field becomes, and the one warning (or none).
TEST_F(SettingsTest, IntegerKeysAreChecked) {
  struct Case {
    const char* file;
    int32_t (*field)(const AgentSettings&);
    int32_t expected;
    const char* warning;  // "" for none
  };
  auto cf = [](const AgentSettings& s) { return s.sampleIntervalMs; };
  auto port = [](const AgentSettings& s) { return s.port; };
  auto itemscf = [](const AgentSettings& s) { return s.itemscf; };
  auto timebias = [](const AgentSettings& s) { return s.timebias; };
  auto isautorun = [](const AgentSettings& s) { return s.isautorun; };
  auto isremote = [](const AgentSettings& s) { return int32_t{s.isremote}; };
  auto autoitems = [](const AgentSettings& s) { return int32_t{s.autoitems}; };
  auto showread = [](const AgentSettings& s) { return int32_t{s.showread}; };
  auto quality = [](const AgentSettings& s) { return int32_t{s.quality}; };
  auto logFile = [](const AgentSettings& s) { return int32_t{s.logFile}; };
  auto maxmb = [](const AgentSettings& s) { return s.logMaxMb; };
  auto keep = [](const AgentSettings& s) { return s.logKeep; };
  const Case cases[] = {
      {"[ITEMS]\ncf=0\n", cf, 10000, "\nSetting cf=0 is out of range 1..86400; using 10"},
      {"[ITEMS]\ncf=-1\n", cf, 10000, "\nSetting cf=-1 is out of range 1..86400; using 10"},
      {"[ITEMS]\ncf=abc\n", cf, 10000, "\nSetting cf=abc is not a number; using 10"},
      {"[ITEMS]\ncf=99999999999\n", cf, 10000,
       "\nSetting cf=99999999999 is out of range 1..86400; using 10"},
      {"[ITEMS]\ncf=99999999999999999999999999\n", cf, 10000,
       "\nSetting cf=99999999999999999999999999 is out of range 1..86400; using 10"},
      {"[ITEMS]\ncf=5abc\n", cf, 10000, "\nSetting cf=5abc is not a number; using 10"},
      {"[ITEMS]\ncf=1 2\n", cf, 10000, "\nSetting cf=1 2 is not a number; using 10"},
      {"[ITEMS]\ncf=-\n", cf, 10000, "\nSetting cf=- is not a number; using 10"},
      {"[ITEMS]\ncf=0x10\n", cf, 10000, "\nSetting cf=0x10 is not a number; using 10"},
      {"[ITEMS]\ncf=1\n", cf, 1000, ""},
      {"[ITEMS]\ncf=86400\n", cf, 86400000, ""},
      {"[ITEMS]\ncf=86401\n", cf, 10000, "\nSetting cf=86401 is out of range 1..86400; using 10"},
      {"[ITEMS]\ncf=  +7  \n", cf, 7000, ""},
      {"[ITEMS]\ncf=007\n", cf, 7000, ""},
      {"[ITEMS]\ncf=\n", cf, 10000, ""},  // empty: the default, as if missing
      {"[HTTP]\nport=abc\n", port, 0, "\nSetting port=abc is not a number; using 0"},
      {"[HTTP]\nport=-5\n", port, 0, "\nSetting port=-5 is out of range 0..65535; using 0"},
      {"[HTTP]\nport=65536\n", port, 0, "\nSetting port=65536 is out of range 0..65535; using 0"},
      {"[HTTP]\nport=65535\n", port, 65535, ""},
      {"[HTTP]\nport=0\n", port, 0, ""},
      {"[ITEMS]\nitemscf=0\n", itemscf, 60,
       "\nSetting itemscf=0 is out of range 1..86400; using 60"},
      {"[ITEMS]\nitemscf=1\n", itemscf, 1, ""},
      {"[ITEMS]\ntimebias=-86400\n", timebias, -86400, ""},
      {"[ITEMS]\ntimebias=90000\n", timebias, 28800,
       "\nSetting timebias=90000 is out of range -86400..86400; using 28800"},
      // Flags: every 32-bit number keeps its meaning (only 1 is on).
      {"[SERVER]\nisautorun=2\n", isautorun, 2, ""},
      {"[SERVER]\nisautorun=-7\n", isautorun, -7, ""},
      // Beyond 32 bits: the profile functions wrapped this one to 1.
      {"[SERVER]\nisautorun=4294967297\n", isautorun, 0,
       "\nSetting isautorun=4294967297 is out of range -2147483648..2147483647; using 0"},
      {"[SERVER]\nisremote=yes\n", isremote, 0, "\nSetting isremote=yes is not a number; using 0"},
      {"[SERVER]\nisremote=1\n", isremote, 1, ""},
      {"[ITEMS]\nautoitems=on\n", autoitems, 0, "\nSetting autoitems=on is not a number; using 0"},
      {"[ITEMS]\nshowread=1.0\n", showread, 0, "\nSetting showread=1.0 is not a number; using 0"},
      {"[ITEMS]\nquality=true\n", quality, 0, "\nSetting quality=true is not a number; using 0"},
      {"", logFile, 0, ""},
      {"[LOG]\nfile=1\n", logFile, 1, ""},
      {"[LOG]\nfile=2\n", logFile, 0, ""},
      {"", maxmb, 10, ""},
      {"[LOG]\nmaxmb=1\n", maxmb, 1, ""},
      {"[LOG]\nmaxmb=0\n", maxmb, 10, "\nSetting maxmb=0 is out of range 1..1024; using 10"},
      {"[LOG]\nmaxmb=1025\n", maxmb, 10, "\nSetting maxmb=1025 is out of range 1..1024; using 10"},
      {"", keep, 5, ""},
      {"[LOG]\nkeep=0\n", keep, 0, ""},
      {"[LOG]\nkeep=100\n", keep, 100, ""},
      {"[LOG]\nkeep=-1\n", keep, 5, "\nSetting keep=-1 is out of range 0..100; using 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TextList warnings;
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << c.file;
    AgentSettings settings;
    ASSERT_EQ(LoadSettings(path_, &settings, &warnings), 1);
    EXPECT_EQ(c.field(settings), c.expected);
    if (*c.warning == '\0') {
      EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
      EXPECT_EQ(warnings, TextList{c.warning});
    }
  }
}

TEST_F(SettingsTest, EveryFaultyKeyIsNamedOnce) {
  std::ofstream(path_, std::ios::binary | std::ios::trunc)
      << "[ITEMS]\ncf=0\nitemscf=x\n[HTTP]\nport=-1\n";
  AgentSettings settings;
  TextList warnings;
  LoadSettings(path_, &settings, &warnings);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_NE(warnings[0].find("itemscf=x"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("cf=0"), std::string::npos) << warnings[1];
  EXPECT_NE(warnings[2].find("port=-1"), std::string::npos) << warnings[2];
  // A caller that wants no warnings still gets the checked values.
  EXPECT_EQ(Load("[ITEMS]\ncf=0\n").sampleIntervalMs, 10000);
}

TEST_F(SettingsTest, WarningShowsNoControlBytesAndNoEndlessValue) {
  std::string value = "\x1b]0;owned\x07" + std::string(300, '9');
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << "[HTTP]\nport=" << value << "\n";
  AgentSettings settings;
  TextList warnings;
  LoadSettings(path_, &settings, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].find('\x1b'), std::string::npos);
  EXPECT_EQ(warnings[0].find('\x07'), std::string::npos);
  EXPECT_LT(warnings[0].size(), 120u) << warnings[0];
  EXPECT_NE(warnings[0].find("?]0;owned?999"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("9... is not a number; using 0"), std::string::npos) << warnings[0];
}

TEST_F(SettingsTest, EverySectionAndKey) {
  AgentSettings s = Load(
      "[SERVER]\ndomain=D\nhost=H\nuser=U\npass=P\nisautorun=1\n"
      "[ITEMS]\nprogid=Prog.1\ngroup=G\nitem=I\nitemscf=5\ncf=2\n"
      "[APIS]\napi_host=http://x/\n[HTTP]\nallowip=127.0.0.1\nkey=K\nport=8081\n");
  EXPECT_EQ(s.domain, "D");
  EXPECT_EQ(s.host, "H");
  EXPECT_EQ(s.user, "U");
  EXPECT_EQ(s.pass, "P");
  EXPECT_EQ(s.isautorun, 1);
  EXPECT_EQ(s.progid, "Prog.1");
  EXPECT_EQ(s.group, "G");
  EXPECT_EQ(s.item, "I");
  EXPECT_EQ(s.itemscf, 5);
  EXPECT_EQ(s.sampleIntervalMs, 2000);
  EXPECT_EQ(s.api_host, "http://x/");
  EXPECT_EQ(s.allowip, "127.0.0.1");
  EXPECT_EQ(s.key, "K");
  EXPECT_EQ(s.port, 8081);
}

}  // namespace
