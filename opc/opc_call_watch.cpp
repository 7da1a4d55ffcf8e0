#include "opc/opc_call_watch.h"

#include <algorithm>

#include "common/console_output.h"

namespace {

constexpr int64_t kNsPerMs = 1000000;

std::string Seconds(int64_t ns) { return std::to_string(ns / (1000 * kNsPerMs)); }

}  // namespace

uint64_t CallWatch::Begin(const char* name) {
  const int64_t now = clock_->MonotonicNanoseconds();
  std::lock_guard<std::mutex> hold(mutex_);
  running_ = ++lastToken_;
  name_ = name;
  startedNs_ = now;
  return running_;
}

void CallWatch::End(uint64_t token) {
  const int64_t now = clock_->MonotonicNanoseconds();
  std::lock_guard<std::mutex> hold(mutex_);
  if (token == told_) {
    returnPending_ = true;
    returnedAfterNs_ = now - startedNs_;
    told_ = 0;
  }
  if (token == running_) running_ = 0;
}

int64_t CallWatch::StalledMs() const {
  const int64_t now = clock_->MonotonicNanoseconds();
  std::lock_guard<std::mutex> hold(mutex_);
  if (running_ == 0) return 0;
  return std::max<int64_t>(now - startedNs_, 0) / kNsPerMs;
}

std::string CallWatch::Running() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return running_ == 0 ? std::string() : std::string(name_);
}

void CallWatch::Report(platform::Env* env, int64_t thresholdMs) {
  const int64_t now = clock_->MonotonicNanoseconds();
  std::string returned;
  std::string hanging;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (returnPending_) {
      returnPending_ = false;
      returned = "\nOPC call " + std::string(toldName_) + " returned after " +
                 Seconds(returnedAfterNs_) + " s";
    }
    if (running_ != 0 && running_ != told_ && now - startedNs_ >= thresholdMs * kNsPerMs) {
      told_ = running_;
      toldName_ = name_;
      hanging = "\nOPC call " + std::string(name_) + " has not returned after " +
                Seconds(now - startedNs_) + " s";
    }
  }
  if (!returned.empty()) PrintGoodLine(env, returned, false);
  if (!hanging.empty()) PrintErrorLine(env, hanging, true);
}

int64_t CallWatchThresholdMs(int64_t sampleIntervalMs) {
  return std::max<int64_t>(30000, 3 * sampleIntervalMs);
}
