// The environment the subsystems run in: files and folders, free space, the
// clock, the outgoing HTTP request and the console, reached through one object
// so that a test can stand in for any of them.
//
// Env::Default() forwards to the platform's own services and lives as long as
// the process. A test wraps an Env with EnvWrapper and overrides only the call
// it wants to fail or to observe; every other call goes through unchanged.
//
// Ownership: the creator of an Env owns it and keeps it alive while any
// subsystem handed it may call it. Thread-safety: every call of the default
// Env is safe from any thread; a wrapper must be as safe as what it replaces.
// Failures are reported in the result (a Status with the cause the system
// gave, such as the errno text on POSIX or the system message on Windows),
// never by exceptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/http_client.h"

namespace platform {

// The outcome of one call: ok, or failed with the cause in words.
class Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }
  static Status Failed(std::string cause) { return Status(false, std::move(cause)); }
  bool ok() const { return ok_; }
  // The cause of a failure ("No space left on device"); empty when ok.
  const std::string& cause() const { return cause_; }

 private:
  Status(bool ok, std::string cause) : ok_(ok), cause_(std::move(cause)) {}
  bool ok_ = true;
  std::string cause_;
};

// The words the system gives for the last failed call of this thread (errno
// on POSIX, GetLastError on Windows). Read it right after the failing call.
std::string LastSystemErrorText();

// Bytes free to the agent and the size of the volume that holds a folder.
struct VolumeSpace {
  uint64_t freeBytes = 0;
  uint64_t totalBytes = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The platform's own environment; never destroyed.
  static Env* Default();

  // Files and folders: the operations of platform/file_system.h.
  virtual bool PathExists(const std::string& path) = 0;
  virtual Status MakeDirectory(const std::string& path) = 0;
  virtual Status ReadWholeFile(const std::string& path, std::string* content) = 0;
  virtual Status WriteNewFileDurably(const std::string& path, const std::string& content) = 0;
  virtual Status AppendAndFlush(const std::string& path, const std::string& content) = 0;
  virtual Status RenameNoReplace(const std::string& from, const std::string& to) = 0;
  virtual Status FlushDirectory(const std::string& folder) = 0;
  virtual Status CopyFileReplacing(const std::string& from, const std::string& to) = 0;
  virtual Status DeleteFileAt(const std::string& path) = 0;
  virtual Status ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) = 0;
  virtual bool LastWriteTime(const std::string& path, int64_t* time) = 0;
  virtual Status FileSize(const std::string& path, uint64_t* size) = 0;
  // Free and total space of the volume that holds folder.
  virtual Status GetVolumeSpace(const std::string& folder, VolumeSpace* space) = 0;

  // Milliseconds since 1970-01-01 UTC (calendar seconds times 1000 plus the
  // millisecond field of the local clock), as records and spool names use.
  virtual int64_t NowMilliseconds() = 0;
  // Monotonic nanoseconds, for waits and intervals.
  virtual int64_t MonotonicNanoseconds() = 0;

  // One outgoing HTTP request; see platform/http_client.h.
  virtual HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                          const std::u16string& body,
                                          const std::u16string& contentType,
                                          const std::vector<HttpHeader>& headers,
                                          const HttpRequestLimits& limits) = 0;

  // Console output; see platform/console.h. A write goes out whole.
  virtual void ConsoleWrite(const std::string& text) = 0;
  virtual void ConsoleWriteColoured(uint16_t attribute, const std::string& text) = 0;
};

// Forwards every call to another Env, which must outlive the wrapper.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  bool PathExists(const std::string& path) override { return target_->PathExists(path); }
  Status MakeDirectory(const std::string& path) override { return target_->MakeDirectory(path); }
  Status ReadWholeFile(const std::string& path, std::string* content) override {
    return target_->ReadWholeFile(path, content);
  }
  Status WriteNewFileDurably(const std::string& path, const std::string& content) override {
    return target_->WriteNewFileDurably(path, content);
  }
  Status AppendAndFlush(const std::string& path, const std::string& content) override {
    return target_->AppendAndFlush(path, content);
  }
  Status RenameNoReplace(const std::string& from, const std::string& to) override {
    return target_->RenameNoReplace(from, to);
  }
  Status FlushDirectory(const std::string& folder) override {
    return target_->FlushDirectory(folder);
  }
  Status CopyFileReplacing(const std::string& from, const std::string& to) override {
    return target_->CopyFileReplacing(from, to);
  }
  Status DeleteFileAt(const std::string& path) override { return target_->DeleteFileAt(path); }
  Status ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) override {
    return target_->ListDirectory(folder, entries);
  }
  bool LastWriteTime(const std::string& path, int64_t* time) override {
    return target_->LastWriteTime(path, time);
  }
  Status FileSize(const std::string& path, uint64_t* size) override {
    return target_->FileSize(path, size);
  }
  Status GetVolumeSpace(const std::string& folder, VolumeSpace* space) override {
    return target_->GetVolumeSpace(folder, space);
  }
  int64_t NowMilliseconds() override { return target_->NowMilliseconds(); }
  int64_t MonotonicNanoseconds() override { return target_->MonotonicNanoseconds(); }
  HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                  const std::u16string& body, const std::u16string& contentType,
                                  const std::vector<HttpHeader>& headers,
                                  const HttpRequestLimits& limits) override {
    return target_->PerformHttpRequest(url, method, body, contentType, headers, limits);
  }
  void ConsoleWrite(const std::string& text) override { target_->ConsoleWrite(text); }
  void ConsoleWriteColoured(uint16_t attribute, const std::string& text) override {
    target_->ConsoleWriteColoured(attribute, text);
  }

 private:
  Env* target_;
};

}  // namespace platform
