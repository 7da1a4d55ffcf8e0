#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("talvero-settings-" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
              ".ini"))
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

TEST_F(SettingsTest, IntervalIsClampedNotOverflowed) {
  EXPECT_EQ(Load("[ITEMS]\ncf=0\n").sampleIntervalMs, 0);
  EXPECT_EQ(Load("[ITEMS]\ncf=3\n").sampleIntervalMs, 3000);
  EXPECT_EQ(Load("[ITEMS]\ncf=3000000\n").sampleIntervalMs, INT32_MAX);
  EXPECT_EQ(Load("[ITEMS]\ncf=-3000000\n").sampleIntervalMs, INT32_MIN);
  EXPECT_EQ(SecondsToMilliseconds(2147483), 2147483000);
  EXPECT_EQ(SecondsToMilliseconds(2147484), INT32_MAX);
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
