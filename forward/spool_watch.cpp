#include "forward/spool_watch.h"

#include <algorithm>

#include "common/console_output.h"
#include "common/text_helpers.h"
#include "forward/spool_file.h"

namespace {

constexpr int64_t kBacklogRepeatNs = 10LL * 60 * 1000 * 1000 * 1000;
constexpr uint64_t kLowSpaceBytes = 100ULL * 1024 * 1024;
constexpr uint64_t kMiB = 1024 * 1024;

bool SpaceIsLow(const platform::VolumeSpace& space) {
  return space.freeBytes < kLowSpaceBytes || space.freeBytes < space.totalBytes / 100;
}

}  // namespace

int64_t SpoolNameMilliseconds(const std::string& name) {
  const std::string extension = kSpoolExtension;
  if (name.size() <= extension.size() || name.size() > extension.size() + 18) return -1;
  if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) return -1;
  int64_t number = 0;
  for (std::size_t i = 0; i + extension.size() < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

SpoolCensus TakeSpoolCensus(platform::Env* env, const std::string& folder) {
  SpoolCensus census;
  std::vector<platform::DirectoryEntry> entries;
  platform::Status listed = env->ListDirectory(folder, &entries);
  if (!listed.ok()) {
    census.cause = listed.cause();
    return census;
  }
  census.listed = true;
  std::vector<std::string> names;
  for (const auto& entry : entries) {
    if (!entry.isDirectory && IsSpoolFileName(entry.name)) names.push_back(entry.name);
  }
  if (names.empty()) return census;
  SortSpoolNames(&names);
  census.oldestName = names.front();
  for (const auto& name : names) {
    uint64_t size = 0;
    if (!env->FileSize(folder + platform::kPathSeparator + name, &size).ok()) continue;
    ++census.files;
    census.bytes += size;
    census.names.push_back(name);
  }
  return census;
}

SpoolWatch::SpoolWatch(platform::Env* env, std::string folder, int32_t sampleIntervalMs,
                       bool uploadsConfigured)
    : env_(env),
      folder_(std::move(folder)),
      backlogAgeMs_(10 * std::max<int64_t>(sampleIntervalMs, 1000)),
      checkIntervalNs_(std::min<int64_t>(std::max<int64_t>(sampleIntervalMs, 1000), 60000) *
                       1000000),
      uploadsConfigured_(uploadsConfigured) {}

void SpoolWatch::CheckIfDue() {
  const int64_t nowNs = env_->MonotonicNanoseconds();
  if (checked_ && nowNs - checkedAtNs_ < checkIntervalNs_) return;
  checked_ = true;
  checkedAtNs_ = nowNs;
  Check();
}

void SpoolWatch::Check() {
  if (uploadsConfigured_) {
    SpoolCensus census = TakeSpoolCensus(env_, folder_);
    // A folder that cannot be listed is told by the uploader; nothing to judge.
    if (census.listed) CheckBacklog(census);
  }
  CheckSpace();
}

void SpoolWatch::CheckBacklog(const SpoolCensus& census) {
  const int64_t nowNs = env_->MonotonicNanoseconds();
  std::map<std::string, int64_t> seen;
  for (const std::string& name : census.names) {
    auto known = firstSeenNs_.find(name);
    seen.emplace(name, known == firstSeenNs_.end() ? nowNs : known->second);
  }
  firstSeenNs_.swap(seen);
  if (census.names.empty()) {
    if (backlogTold_) PrintGoodLine(env_, "\nUploads caught up.", false);
    backlogTold_ = false;
    return;
  }
  // The longest wait: since the name's time or since first seen, whichever
  // began earlier, so neither a clock set back nor a file from an earlier
  // run goes unnoticed.
  const int64_t nowMs = env_->NowMilliseconds();
  int64_t longestMs = 0;
  for (const auto& file : firstSeenNs_) {
    int64_t waitedMs = (nowNs - file.second) / 1000000;
    const int64_t namedMs = SpoolNameMilliseconds(file.first);
    if (namedMs >= 0) waitedMs = std::max(waitedMs, nowMs - namedMs);
    longestMs = std::max(longestMs, waitedMs);
  }
  if (longestMs <= backlogAgeMs_) return;
  if (backlogTold_ && nowNs - backlogToldAtNs_ < kBacklogRepeatNs) return;
  PrintErrorLine(env_,
                 FormatText("\nUpload backlog: %lld files waiting, the oldest from ",
                            static_cast<long long>(census.files)) +
                     FormatLocalTime(nowMs - longestMs, ""),
                 false);
  backlogTold_ = true;
  backlogToldAtNs_ = nowNs;
}

void SpoolWatch::CheckSpace() {
  platform::VolumeSpace space;
  if (!env_->GetVolumeSpace(folder_, &space).ok()) return;
  bool low = SpaceIsLow(space);
  if (low == spaceLow_) return;
  spaceLow_ = low;
  const unsigned long long freeMiB = space.freeBytes / kMiB;
  const unsigned long long totalMiB = space.totalBytes / kMiB;
  if (low) {
    PrintErrorLine(env_,
                   FormatText("\nLow disk space for the spool: %llu MiB free of %llu MiB in ",
                              freeMiB, totalMiB) +
                       folder_,
                   true);
  } else {
    PrintGoodLine(env_,
                  FormatText("\nDisk space for the spool recovered: %llu MiB free of %llu MiB",
                             freeMiB, totalMiB),
                  false);
  }
}
