// Replays the fuzz target's seed corpus as an ordinary test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fuzz/request_path.h"

namespace {

TEST(FuzzCorpus, EverySeedRunsThroughTheRequestPath) {
  const std::filesystem::path folder = std::filesystem::path(TALVERO_SOURCE_DIR) / "fuzz" / "corpus";
  std::error_code error;
  std::filesystem::directory_iterator seedsFolder(folder, error);
  if (error) GTEST_SKIP() << "corpus folder not reachable from this build: " << folder;
  int seeds = 0;
  for (const auto& entry : seedsFolder) {
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    ExerciseRequestPath(bytes.str());
    ++seeds;
  }
  EXPECT_GE(seeds, 6);
}

}  // namespace
