// The system's own folders stay portable: no OS header, no platform #ifdef.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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

}  // namespace
