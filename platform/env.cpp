#include "platform/env.h"

#include "platform/clock.h"
#include "platform/console.h"

namespace platform {

namespace {

Status FromResult(bool ok) { return ok ? Status::Ok() : Status::Failed(LastSystemErrorText()); }

// The platform's own services, each call forwarded as it is.
class DefaultEnv : public Env {
 public:
  bool PathExists(const std::string& path) override { return platform::PathExists(path); }
  Status MakeDirectory(const std::string& path) override {
    return FromResult(platform::MakeDirectory(path));
  }
  Status ReadWholeFile(const std::string& path, std::string* content) override {
    return FromResult(platform::ReadWholeFile(path, content));
  }
  Status WriteNewFileDurably(const std::string& path, const std::string& content) override {
    return FromResult(platform::WriteNewFileDurably(path, content));
  }
  Status AppendAndFlush(const std::string& path, const std::string& content) override {
    return FromResult(platform::AppendAndFlush(path, content));
  }
  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    return FromResult(platform::RenameNoReplace(from, to));
  }
  Status FlushDirectory(const std::string& folder) override {
    return FromResult(platform::FlushDirectory(folder));
  }
  Status CopyFileReplacing(const std::string& from, const std::string& to) override {
    return FromResult(platform::CopyFileReplacing(from, to));
  }
  Status DeleteFileAt(const std::string& path) override {
    return FromResult(platform::DeleteFileAt(path));
  }
  Status ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) override {
    return FromResult(platform::ListDirectory(folder, entries));
  }
  bool LastWriteTime(const std::string& path, int64_t* time) override {
    return platform::LastWriteTime(path, time);
  }
  Status FileSize(const std::string& path, uint64_t* size) override {
    return FromResult(platform::FileSize(path, size));
  }
  Status GetVolumeSpace(const std::string& folder, VolumeSpace* space) override {
    return FromResult(platform::QueryVolumeSpace(folder, &space->freeBytes, &space->totalBytes));
  }
  int64_t NowMilliseconds() override {
    int milliseconds = platform::LocalMilliseconds();
    return platform::CalendarSeconds() * 1000 + milliseconds;
  }
  int64_t MonotonicNanoseconds() override { return platform::MonotonicNanoseconds(); }
  HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                  const std::u16string& body, const std::u16string& contentType,
                                  const std::vector<HttpHeader>& headers,
                                  const HttpRequestLimits& limits) override {
    return platform::PerformHttpRequest(url, method, body, contentType, headers, limits);
  }
  void ConsoleWrite(const std::string& text) override { platform::ConsoleWrite(text); }
  void ConsoleWriteColoured(uint16_t attribute, const std::string& text) override {
    platform::ConsoleWriteColoured(attribute, text);
  }
};

}  // namespace

Env* Env::Default() {
  // Never destroyed: workers may still call it while the process exits.
  static Env* const instance = new DefaultEnv;
  return instance;
}

}  // namespace platform
