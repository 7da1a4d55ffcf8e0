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
      // A test, and its support, may reach for whatever it exercises.
      if (entry.path().stem().string().find("_test") != std::string::npos) continue;
      std::ifstream in(entry.path());
      std::string line;
      int number = 0;
      while (std::getline(in, line)) {
        ++number;
        std::smatch match;
        if (!std::regex_search(line, match, include)) continue;
        const std::string target = match[1];
        const std::string rest = match[2];
        const std::string where = entry.path().string() + ":" + std::to_string(number) + ": " + line;
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

}  // namespace
