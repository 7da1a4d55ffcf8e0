#include <windows.h>

#include "platform/env.h"
#include "platform/file_system.h"

namespace platform {

namespace {

// Keeps the thread's last error across the clean-up after a failed call, so
// that the cause read afterwards (LastSystemErrorText) is the failure's own.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(saved_); }

 private:
  DWORD saved_;
};

}  // namespace

const char kPathSeparator = '\\';

std::string ModulePath() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  content->clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    content->append(buffer, got);
  }
  LastErrorKeeper keep;
  CloseHandle(file);
  if (!ok) content->clear();
  return ok;
}

bool WriteNewFileDurably(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    DWORD put = 0;
    DWORD chunk = static_cast<DWORD>(content.size() - done > 1u << 30 ? 1u << 30 : content.size() - done);
    ok = WriteFile(file, content.data() + done, chunk, &put, nullptr) && put > 0;
    done += put;
  }
  if (ok && !FlushFileBuffers(file)) ok = false;
  if (!CloseHandle(file)) ok = false;
  if (!ok) {
    LastErrorKeeper keep;
    DeleteFileA(path.c_str());
  }
  return ok;
}

bool AppendAndFlush(const std::string& path, const std::string& content) {
  // Others may read, rename or delete the file between the agent's writes.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < content.size()) {
    DWORD put = 0;
    DWORD chunk =
        static_cast<DWORD>(content.size() - done > 1u << 30 ? 1u << 30 : content.size() - done);
    ok = WriteFile(file, content.data() + done, chunk, &put, nullptr) && put > 0;
    done += put;
  }
  if (ok && !FlushFileBuffers(file)) ok = false;
  if (ok) return CloseHandle(file) != 0;
  LastErrorKeeper keep;
  CloseHandle(file);
  return false;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists; write
  // through returns only once the new name is on the disk.
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool FlushDirectory(const std::string& folder) {
  // RenameNoReplace has written the folder's change through already.
  return IsDirectory(folder);
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool ReplaceFileDurably(const std::string& path, const std::string& content) {
  const std::string temporary = path + ".writing";
  DeleteFileA(temporary.c_str());
  if (!WriteNewFileDurably(temporary, content)) return false;
  if (!MoveFileExA(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    LastErrorKeeper keep;
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirectoryEntry entry;
    entry.name = name;
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back(entry);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

bool FileSize(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool LastWriteTime(const std::string& path, int64_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  FILETIME local;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  *time = static_cast<int64_t>((static_cast<uint64_t>(local.dwHighDateTime) << 32) |
                               local.dwLowDateTime);
  return true;
}

bool QueryVolumeSpace(const std::string& folder, uint64_t* freeBytes, uint64_t* totalBytes) {
  ULARGE_INTEGER available, total;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, &total, nullptr)) return false;
  *freeBytes = available.QuadPart;
  *totalBytes = total.QuadPart;
  return true;
}

std::string LastSystemErrorText() {
  DWORD error = GetLastError();
  if (error == 0) return "unknown error";
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length > 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "system error " + std::to_string(error);
  return message;
}

}  // namespace platform
