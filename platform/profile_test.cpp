// One table of settings-file cases, run natively against the project's own
// reader and, in the Windows build under Wine, against the Windows profile
// functions, so the two can never drift apart.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_system.h"

namespace {

struct TextCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* fallback;
  const char* expected;
};

const TextCase kTextCases[] = {
    {"plain", "[S]\nk=v\n", "S", "k", "d", "v"},
    {"section case", "[Server]\nk=v\n", "SERVER", "k", "d", "v"},
    {"key case", "[S]\nHost=v\n", "S", "hOST", "d", "v"},
    {"first key wins", "[S]\nk=one\nk=two\n", "S", "k", "d", "one"},
    {"blanks around", "[S]\n  k  =  v w  \n", "S", "k", "d", "v w"},
    {"tabs around", "[S]\n\tk\t=\tv\t\n", "S", "k", "d", "v"},
    {"crlf", "[S]\r\nk=v\r\n", "S", "k", "d", "v"},
    {"no final line end", "[S]\nk=v", "S", "k", "d", "v"},
    {"double quotes", "[S]\nk=\"a b\"\n", "S", "k", "d", "a b"},
    {"single quotes", "[S]\nk='a b'\n", "S", "k", "d", "a b"},
    {"unmatched quote", "[S]\nk=\"a b\n", "S", "k", "d", "\"a b"},
    {"inner quotes kept", "[S]\nk=a \"b\" c\n", "S", "k", "d", "a \"b\" c"},
    {"inline semicolon is value", "[S]\nk=v ; note\n", "S", "k", "d", "v ; note"},
    {"comment line", "[S]\n;k=x\nk=v\n", "S", "k", "d", "v"},
    {"equals in value", "[S]\nk=a=b\n", "S", "k", "d", "a=b"},
    {"empty value", "[S]\nk=\n", "S", "k", "d", ""},
    {"missing key", "[S]\nother=v\n", "S", "k", "d", "d"},
    {"missing section", "[T]\nk=v\n", "S", "k", "d", "d"},
    {"key in other section", "[T]\nk=t\n[S]\nk=s\n", "S", "k", "d", "s"},
    {"section ends at next", "[S]\n[T]\nk=t\n", "S", "k", "d", "d"},
    {"key before any section", "k=v\n[S]\n", "S", "k", "d", "d"},
    {"key without equals", "[S]\nk\n", "S", "k", "d", "d"},
    {"indented section", "  [S]\nk=v\n", "S", "k", "d", "v"},
    {"long value kept whole", nullptr, "S", "k", "d", nullptr},
};

const struct IntCase {
  const char* name;
  const char* file;
  int32_t fallback;
  int32_t expected;
} kIntCases[] = {
    {"plain", "[S]\nk=42\n", 7, 42},
    {"negative", "[S]\nk=-5\n", 7, -5},
    {"plus sign", "[S]\nk=+8\n", 7, 8},
    {"trailing garbage", "[S]\nk=12abc\n", 7, 12},
    {"no digits", "[S]\nk=abc\n", 7, 0},
    {"empty value gives default", "[S]\nk=\n", 7, 7},
    {"missing gives default", "[S]\nx=1\n", 7, 7},
    {"blanks", "[S]\nk =  3 \n", 7, 3},
    {"sign alone", "[S]\nk=-\n", 7, 0},
    {"decimal point stops", "[S]\nk=2.5\n", 7, 2},
};

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("talvero-profile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    path_ = (folder_ / "config.ini").string();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteFile(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }

  std::filesystem::path folder_;
  std::string path_;
};

TEST_F(ProfileTest, TextCases) {
  const std::string longValue(5000, 'x');
  for (const TextCase& c : kTextCases) {
    std::string file = c.file ? c.file : "[S]\nk=" + longValue + "\n";
    std::string expected = c.expected ? c.expected : longValue;
    WriteFile(file);
    EXPECT_EQ(platform::ProfileReadText(path_, c.section, c.key, c.fallback), expected) << c.name;
  }
}

TEST_F(ProfileTest, IntCases) {
  for (const IntCase& c : kIntCases) {
    WriteFile(c.file);
    EXPECT_EQ(platform::ProfileReadInt(path_, "S", "k", c.fallback), c.expected) << c.name;
  }
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
  std::string missing = (folder_ / "absent.ini").string();
  EXPECT_EQ(platform::ProfileReadText(missing, "S", "k", "fallback"), "fallback");
  EXPECT_EQ(platform::ProfileReadInt(missing, "S", "k", 60), 60);
}

TEST_F(ProfileTest, WriteReplacesOneValueAndKeepsTheRest) {
  WriteFile("; operator notes\n[SERVER]\nhost=10.0.0.1\nisautorun=0\n\n[ITEMS]\ncf=5\n");
  ASSERT_TRUE(platform::ProfileWriteText(path_, "SERVER", "isautorun", "1"));
  EXPECT_EQ(platform::ProfileReadInt(path_, "SERVER", "isautorun", 9), 1);
  EXPECT_EQ(platform::ProfileReadText(path_, "SERVER", "host", ""), "10.0.0.1");
  EXPECT_EQ(platform::ProfileReadInt(path_, "ITEMS", "cf", 0), 5);
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(path_, &content));
  EXPECT_NE(content.find("; operator notes"), std::string::npos);

  ASSERT_TRUE(platform::ProfileWriteText(path_, "SERVER", "newkey", "x"));
  ASSERT_TRUE(platform::ProfileWriteText(path_, "APIS", "api_host", "http://h/p"));
  EXPECT_EQ(platform::ProfileReadText(path_, "SERVER", "newkey", ""), "x");
  EXPECT_EQ(platform::ProfileReadText(path_, "APIS", "api_host", ""), "http://h/p");
  EXPECT_EQ(platform::ProfileReadInt(path_, "ITEMS", "cf", 0), 5);
}

}  // namespace
