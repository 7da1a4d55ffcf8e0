#include "forward/spool_file.h"

#include <algorithm>

#include "platform/file_system.h"

const char kSpoolExtension[] = ".txt";
const char kSpoolTempExtension[] = ".writing";

namespace {

// Names of another run can only collide a few times in a row; past this many
// taken names something else is wrong and the write is reported as failed.
constexpr int kMaxNameAttempts = 1000;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The digits before ".txt" when the whole stem is digits; empty otherwise.
std::string NumericStem(const std::string& name) {
  std::string stem = name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
  if (stem.empty() ||
      !std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::string();
  }
  std::size_t first = stem.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : stem.substr(first);
}

}  // namespace

bool IsSpoolFileName(const std::string& name) {
  return EndsWith(name, kSpoolExtension) && !NumericStem(name).empty();
}

bool IsSpoolTemporaryName(const std::string& name) { return EndsWith(name, kSpoolTempExtension); }

void SortSpoolNames(std::vector<std::string>* names) {
  std::stable_sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    std::string na = NumericStem(a);
    std::string nb = NumericStem(b);
    if (na.empty() != nb.empty()) return !na.empty();  // numbered names first
    if (na.empty()) return a < b;
    if (na.size() != nb.size()) return na.size() < nb.size();
    if (na != nb) return na < nb;
    return a < b;
  });
}

int RemoveSpoolTemporaries(platform::Env* env, const std::string& folder) {
  std::vector<platform::DirectoryEntry> entries;
  if (!env->ListDirectory(folder, &entries).ok()) return 0;
  int removed = 0;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory || !IsSpoolTemporaryName(entry.name)) continue;
    if (env->DeleteFileAt(folder + platform::kPathSeparator + entry.name).ok()) ++removed;
  }
  return removed;
}

int64_t HighestSpoolNumber(platform::Env* env, const std::string& folder) {
  std::vector<platform::DirectoryEntry> entries;
  if (!env->ListDirectory(folder, &entries).ok()) return 0;
  int64_t highest = 0;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory || !IsSpoolFileName(entry.name)) continue;
    const std::string digits = NumericStem(entry.name);
    // Longer names lie beyond any clock and any name this writer can give.
    if (digits.empty() || digits.size() > 18) continue;
    highest = std::max<int64_t>(highest, std::stoll(digits));
  }
  return highest;
}

bool SpoolWriter::Write(platform::Env* env, const std::string& folder, const std::string& content,
                        int64_t nowMs, std::string* path, std::string* error) {
  if (!seeded_) {
    lastNumber_ = std::max(lastNumber_, HighestSpoolNumber(env, folder));
    seeded_ = true;
  }
  int64_t number = std::max(nowMs, lastNumber_ + 1);
  const std::string prefix = folder + platform::kPathSeparator;
  const std::string temporary = prefix + std::to_string(number) + kSpoolTempExtension;
  // A temporary of this name can only be the remains of a failed attempt.
  env->DeleteFileAt(temporary);
  platform::Status written = env->WriteNewFileDurably(temporary, content);
  if (!written.ok()) {
    *error = "cannot write " + temporary + ": " + written.cause();
    return false;
  }
  platform::Status renamed;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt, ++number) {
    const std::string target = prefix + std::to_string(number) + kSpoolExtension;
    renamed = env->RenameNoReplace(temporary, target);
    if (renamed.ok()) {
      lastNumber_ = number;
      // Until the folder is on the disk a power cut can still take the new
      // name back, and the next start would remove the sample as a
      // temporary. When the flush fails the file goes and the write fails
      // like any other, so the caller can keep the sample without it being
      // sent twice.
      platform::Status flushed = env->FlushDirectory(folder);
      if (!flushed.ok()) {
        env->DeleteFileAt(target);
        *error = "cannot flush " + folder + ": " + flushed.cause();
        return false;
      }
      *path = target;
      return true;
    }
    if (!env->PathExists(target)) break;  // failed for another reason than a taken name
  }
  env->DeleteFileAt(temporary);
  *error = "cannot rename " + temporary + ": " + renamed.cause();
  return false;
}
