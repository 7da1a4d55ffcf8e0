// The system's own folders stay portable: no OS header, no platform #ifdef.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

bool IsTest(const std::filesystem::path& file) {
  const std::string stem = file.stem().string();
  const std::string suffix = "_test";
  return stem.size() >= suffix.size() &&
         stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(PortableFolders, NoOsHeaderAndNoPlatformConditional) {
  const std::regex forbidden(
      R"(#\s*include\s*<(windows|winsock2|ws2tcpip|objbase|ole2|oleauto|shellapi|unistd|pthread|sys/[a-z_]+|arpa/inet|netinet/[a-z_]+|netdb|dirent|fcntl|signal|poll|termios|curl/curl|md5)\.h>|#\s*if(def|ndef)?\s.*(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW))");
  int scanned = 0;
  for (const char* folder : {"app", "opc", "bridge", "http", "forward", "common"}) {
    std::filesystem::path root = std::filesystem::path(TALVERO_SOURCE_DIR) / folder;
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      std::ifstream in(entry.path());
      std::string line;
      int number = 0;
      while (std::getline(in, line)) {
        ++number;
        EXPECT_FALSE(std::regex_search(line, forbidden))
            << entry.path().string() << ":" << number << ": " << line;
      }
      ++scanned;
    }
  }
  EXPECT_GT(scanned, 5);
}

// Data and calls flow down the layers: a folder includes only the folders
// below it, and no system folder reaches into a platform implementation.
TEST(PortableFolders, IncludesFollowTheLayers) {
  const std::map<std::string, std::set<std::string>> allowed = {
      {"app", {"app", "http", "forward", "bridge", "opc", "common", "platform", "sim"}},
      {"http", {"http", "bridge", "common", "platform"}},
      {"forward", {"forward", "opc", "common", "platform"}},
      {"bridge", {"bridge", "opc", "common", "platform"}},
      {"opc", {"opc", "common", "platform"}},
      {"common", {"common", "platform"}},
  };
  const std::regex include(R"(^\s*#\s*include\s*"([^"/]+)/([^"]*)\")");
  int scanned = 0;
  for (const auto& [folder, mayInclude] : allowed) {
    std::filesystem::path root = std::filesystem::path(TALVERO_SOURCE_DIR) / folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      // A test may reach for whatever it exercises.
      if (IsTest(entry.path())) continue;
      std::ifstream in(entry.path());
      std::string line;
      int number = 0;
      while (std::getline(in, line)) {
        ++number;
        std::smatch match;
        if (!std::regex_search(line, match, include)) continue;
        const std::string target = match[1];
        const std::string rest = match[2];
        const std::string where =
            entry.path().string() + ":" + std::to_string(number) + ": " + line;
        EXPECT_TRUE(mayInclude.count(target)) << where;
        // The platform's implementations stay behind its interfaces.
        EXPECT_TRUE(target != "platform" ||
                    (rest.rfind("posix/", 0) != 0 && rest.rfind("windows/", 0) != 0))
            << where;
        // Only app/ knows the process-wide names and paths.
        EXPECT_TRUE(folder == "app" || target + "/" + rest != "app/process_paths.h") << where;
      }
      ++scanned;
    }
  }
  EXPECT_GT(scanned, 20);
}

// What only the tests use lives under tests/: every header in the system's
// folders, the platform and the simulation is included by some code that is
// not a test, so the agent's folders hold the agent and nothing else.
TEST(PortableFolders, NoHeaderThereServesOnlyTheTests) {
  const std::regex include(R"(^\s*#\s*include\s*"([^"]+)\")");
  const std::filesystem::path source(TALVERO_SOURCE_DIR);
  std::set<std::string> headers;
  std::set<std::string> includedByCode;
  for (const char* folder :
       {"app", "opc", "bridge", "http", "forward", "common", "platform", "sim"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source / folder)) {
      std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      if (ext == ".h") headers.insert(entry.path().lexically_relative(source).generic_string());
      if (IsTest(entry.path())) continue;
      std::ifstream in(entry.path());
      std::string line;
      while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_search(line, match, include)) includedByCode.insert(match[1]);
      }
    }
  }
  EXPECT_GT(headers.size(), 20u);
  for (const std::string& header : headers) {
    EXPECT_TRUE(includedByCode.count(header)) << header << " is included by tests only";
  }
}

}  // namespace
