#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/env.h"
#include "platform/file_system.h"

namespace platform {

namespace {

// Keeps errno across the clean-up after a failed call, so that the cause
// read afterwards (LastSystemErrorText) is the failure's own and not that of
// an unlink or close done to tidy up.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }

 private:
  int saved_;
};

}  // namespace

const char kPathSeparator = '/';

std::string ModulePath() {
  char buffer[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length));
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(path);
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  content->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ErrnoKeeper keep;
      close(fd);
      content->clear();
      return false;
    }
    content->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return true;
}

namespace {

// Writes all of content to fd, going on after an interrupted write; false
// with errno set when a write fails.
bool WriteAll(int fd, const std::string& content) {
  std::size_t written = 0;
  while (written < content.size()) {
    ssize_t put = write(fd, content.data() + written, content.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

bool WriteNewFileDurably(const std::string& path, const std::string& content) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  if (ok && fsync(fd) != 0) ok = false;
  if (!ok) {
    ErrnoKeeper keep;
    close(fd);
    unlink(path.c_str());
    return false;
  }
  if (close(fd) != 0) {
    ErrnoKeeper keep;
    unlink(path.c_str());
    return false;
  }
  return true;
}

bool AppendAndFlush(const std::string& path, const std::string& content) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, content);
  if (ok && fdatasync(fd) != 0) ok = false;
  if (ok) return close(fd) == 0;
  ErrnoKeeper keep;
  close(fd);
  return false;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // link() fails when to exists, which gives rename-without-replace on every
  // POSIX file system the agent runs on; the source name is removed after.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

bool FlushDirectory(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // A file system that cannot flush a folder at all answers EINVAL: it has
  // nothing more to wait for, so that counts as done.
  const bool ok = fsync(fd) == 0 || errno == EINVAL;
  ErrnoKeeper keep;
  close(fd);
  return ok;
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
  std::string content;
  return ReadWholeFile(from, &content) && ReplaceFileDurably(to, content);
}

bool ReplaceFileDurably(const std::string& path, const std::string& content) {
  const std::string temporary = path + ".writing";
  unlink(temporary.c_str());
  if (!WriteNewFileDurably(temporary, content)) return false;
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    ErrnoKeeper keep;
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool DeleteFileAt(const std::string& path) { return unlink(path.c_str()) == 0; }

bool ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  for (;;) {
    // readdir tells its end from a failure only through errno.
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno == 0) break;
      ErrnoKeeper keep;
      closedir(dir);
      entries->clear();
      return false;
    }
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry item;
    item.name = name;
    if (entry->d_type == DT_DIR) {
      item.isDirectory = true;
    } else if (entry->d_type == DT_UNKNOWN) {
      item.isDirectory = IsDirectory(folder + "/" + name);
    }
    entries->push_back(item);
  }
  closedir(dir);
  return true;
}

bool FileSize(const std::string& path, uint64_t* size) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool LastWriteTime(const std::string& path, int64_t* time) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  *time = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  return true;
}

bool QueryVolumeSpace(const std::string& folder, uint64_t* freeBytes, uint64_t* totalBytes) {
  struct statvfs info;
  int result;
  do {
    result = statvfs(folder.c_str(), &info);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return false;
  *freeBytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  *totalBytes = static_cast<uint64_t>(info.f_blocks) * info.f_frsize;
  return true;
}

std::string LastSystemErrorText() {
  int error = errno;
  if (error == 0) return "unknown error";
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace platform
