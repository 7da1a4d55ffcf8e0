// The registry autorun store: the Run value names the program in quotes, and
// both that form and the unquoted one of earlier versions read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/autorun_store.h"

namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunValue[] = "TALVERO AGENT";

// The Run value of the user's key as stored, or "<none>".
std::string StoredRunValue() {
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
  if (RegGetValueA(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS) {
    return "<none>";
  }
  return buffer;
}

void StoreRunValue(const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class RegistryAutorunStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { store_.DeleteRunEntry(platform::RunScope::kUser); }
  platform::AutorunStore& store_ = platform::SystemAutorunStore();
};

TEST_F(RegistryAutorunStoreTest, ProgramIsQuotedAndReadsBack) {
  const std::string module = "C:\\Program Files\\Talvero Agent\\talvero-agent.exe";
  ASSERT_TRUE(store_.WriteRunEntry(platform::RunScope::kUser, module, " -h"));
  EXPECT_EQ(StoredRunValue(), "\"" + module + "\" -h");
  std::string program;
  std::string arguments;
  ASSERT_TRUE(store_.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
  EXPECT_EQ(program, module);
  EXPECT_EQ(arguments, " -h");

  EXPECT_TRUE(store_.DeleteRunEntry(platform::RunScope::kUser));
  EXPECT_EQ(StoredRunValue(), "<none>");
  EXPECT_FALSE(store_.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
  EXPECT_EQ(program + arguments, "");
}

TEST_F(RegistryAutorunStoreTest, EveryStoredFormReadsBack) {
  struct Stored {
    const char* value;
    const char* program;
    const char* arguments;
  };
  const Stored stored[] = {
      // The unquoted form of earlier versions, blanks in the folder.
      {"Z:\\tmp\\Talvero Agent\\talvero-agent.exe -h", "Z:\\tmp\\Talvero Agent\\talvero-agent.exe",
       " -h"},
      {"Z:\\tmp\\Talvero Agent\\TALVERO-AGENT.EXE -h", "Z:\\tmp\\Talvero Agent\\TALVERO-AGENT.EXE",
       " -h"},
      {"C:\\a.exe.d\\agent.exe -h", "C:\\a.exe.d\\agent.exe", " -h"},
      {"C:\\agent\\talvero-agent.exe", "C:\\agent\\talvero-agent.exe", ""},
      {"C:\\agent\\run -h", "C:\\agent\\run", " -h"},
      {"\"C:\\Talvero Agent\\talvero-agent.exe\" -h", "C:\\Talvero Agent\\talvero-agent.exe",
       " -h"},
      {"\"C:\\Talvero Agent\\talvero-agent.exe\"", "C:\\Talvero Agent\\talvero-agent.exe", ""},
  };
  for (const Stored& entry : stored) {
    SCOPED_TRACE(entry.value);
    StoreRunValue(entry.value);
    std::string program;
    std::string arguments;
    ASSERT_TRUE(store_.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
    EXPECT_EQ(program, entry.program);
    EXPECT_EQ(arguments, entry.arguments);
  }
  for (const char* broken : {"\"C:\\never closed.exe -h", ""}) {
    SCOPED_TRACE(broken);
    StoreRunValue(broken);
    std::string program;
    std::string arguments;
    EXPECT_FALSE(store_.ReadRunEntry(platform::RunScope::kUser, &program, &arguments));
  }
}

}  // namespace
