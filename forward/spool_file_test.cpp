#include "forward/spool_file.h"

#include <gtest/gtest.h>

#include "platform/env.h"
#include "tests/support/forward_test_folder.h"

namespace {

platform::Env* const env = platform::Env::Default();

TEST(SpoolWriterTest, WritesExactContentUnderMillisecondNameWithoutTemporary) {
  TestFolder folder;
  SpoolWriter writer;
  std::string path, error;
  ASSERT_TRUE(writer.Write(env, folder.path(), "{\"i\":\"A\",\"v\":\"1\",\"t\":5}", 1700000000123,
                           &path, &error));
  EXPECT_EQ(path, folder.file("1700000000123.txt"));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"1700000000123.txt"});
  EXPECT_EQ(folder.Read("1700000000123.txt"), "{\"i\":\"A\",\"v\":\"1\",\"t\":5}");
}

TEST(SpoolWriterTest, SameMillisecondTakesNextFreeName) {
  TestFolder folder;
  SpoolWriter writer;
  std::string path, error;
  ASSERT_TRUE(writer.Write(env, folder.path(), "first", 1700000000000, &path, &error));
  ASSERT_TRUE(writer.Write(env, folder.path(), "second", 1700000000000, &path, &error));
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"1700000000000.txt", "1700000000001.txt"}));
  EXPECT_EQ(folder.Read("1700000000000.txt"), "first");
  EXPECT_EQ(folder.Read("1700000000001.txt"), "second");
}

TEST(SpoolWriterTest, NameTakenByAnotherRunIsNotOverwritten) {
  TestFolder folder;
  folder.Write("1700000000000.txt", "older");
  folder.Write("1700000000001.txt", "older too");
  SpoolWriter writer;  // a new run knows nothing of these
  std::string path, error;
  ASSERT_TRUE(writer.Write(env, folder.path(), "new", 1700000000000, &path, &error));
  EXPECT_EQ(path, folder.file("1700000000002.txt"));
  EXPECT_EQ(folder.Read("1700000000000.txt"), "older");
  EXPECT_EQ(folder.Read("1700000000001.txt"), "older too");
  EXPECT_EQ(folder.Read("1700000000002.txt"), "new");
}

TEST(SpoolWriterTest, ClockGoingBackDoesNotReorderSamples) {
  TestFolder folder;
  SpoolWriter writer;
  std::string first, second, error;
  ASSERT_TRUE(writer.Write(env, folder.path(), "a", 1700000005000, &first, &error));
  ASSERT_TRUE(writer.Write(env, folder.path(), "b", 1700000001000, &second, &error));
  std::vector<std::string> names = folder.Names();
  SortSpoolNames(&names);
  EXPECT_EQ(folder.Read(names[0]), "a");
  EXPECT_EQ(folder.Read(names[1]), "b");
}

TEST(SpoolWriterTest, NewRunWithTheClockSetBackNamesAfterTheNewestWaitingFile) {
  TestFolder folder;
  folder.Write("1700000009000.txt", "from the last run");
  folder.Write("1700000005000.txt", "older");
  folder.Write("99999999999999999999.txt", "not a clock's name");
  folder.Write("note.txt", "not numbered");
  SpoolWriter writer;  // the new run's clock is 8 s behind the last run's
  std::string first, second, error;
  ASSERT_TRUE(writer.Write(env, folder.path(), "a", 1700000001000, &first, &error));
  ASSERT_TRUE(writer.Write(env, folder.path(), "b", 1700000001500, &second, &error));
  EXPECT_EQ(first, folder.file("1700000009001.txt"));
  EXPECT_EQ(second, folder.file("1700000009002.txt"));
  EXPECT_EQ(HighestSpoolNumber(env, folder.path()), 1700000009002);
  EXPECT_EQ(HighestSpoolNumber(env, folder.file("gone")), 0);
}

TEST(SpoolWriterTest, MissingFolderFailsWithReasonAndLeavesNothing) {
  TestFolder folder;
  SpoolWriter writer;
  std::string path, error;
  EXPECT_FALSE(writer.Write(env, folder.file("gone"), "x", 1700000000000, &path, &error));
  // What failed, where, and the system's own words for why.
  EXPECT_EQ(error.rfind("cannot write " + folder.file("gone"), 0), 0u) << error;
  EXPECT_GT(error.size(), error.find(".writing: ") + 10) << error;
  EXPECT_TRUE(folder.Names().empty());
}

TEST(SpoolFileTest, RemoveTemporariesKeepsSpoolFiles) {
  TestFolder folder;
  folder.Write("1700000000000.writing", "{\"i\":\"A\",\"v\":");
  folder.Write("1700000000001.txt", "{}");
  folder.Write("other.dat", "x");
  EXPECT_EQ(RemoveSpoolTemporaries(env, folder.path()), 1);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"1700000000001.txt", "other.dat"}));
}

TEST(SpoolFileTest, NamesAreTheSamplersOnly) {
  struct Case {
    const char* name;
    bool spool;
  };
  const Case cases[] = {
      {"1700000000000.txt", true},
      {"999.txt", true},
      {"0.txt", true},
      // Put there by someone else: not the sampler's, never posted.
      {"x.txt", false},
      {"notes.txt", false},
      {"1765240265123 (copy).txt", false},
      {"1765240265123.txt.txt", false},
      {"-1765240265123.txt", false},
      {"+1765240265123.txt", false},
      {" 1765240265123.txt", false},
      {"1765240265123.TXT", false},
      {"1700000000000.writing", false},
      {".txt", false},
      {"1700000000000.txt.writing", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSpoolFileName(c.name), c.spool) << c.name;
  EXPECT_TRUE(IsSpoolTemporaryName("1700000000000.writing"));
  EXPECT_FALSE(IsSpoolTemporaryName("1700000000000.txt"));
}

TEST(SpoolFileTest, SortIsNumericOldestFirstThenOtherNames) {
  std::vector<std::string> names = {"zz.txt",  "1700000000010.txt", "1000.txt",
                                    "999.txt", "1700000000002.txt", "a.txt"};
  SortSpoolNames(&names);
  EXPECT_EQ(names, (std::vector<std::string>{"999.txt", "1000.txt", "1700000000002.txt",
                                             "1700000000010.txt", "a.txt", "zz.txt"}));
}

}  // namespace
