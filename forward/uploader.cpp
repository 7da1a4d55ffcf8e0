#include "forward/uploader.h"

#include <vector>

#include "common/console_output.h"
#include "forward/spool_file.h"
#include "forward/talvxml.h"
#include "platform/codepage.h"

namespace {

// A proxy's answers while the receiver behind it is down: every other file
// would get the same, so the tick ends instead of posting the whole backlog.
bool IsGatewayFailure(int32_t status) { return status == 502 || status == 503 || status == 504; }

}  // namespace

UploadSummary UploadTickWith(const UploaderContext& context, UploaderState* state) {
  UploadSummary summary;
  if (context.url.empty()) return summary;
  bool expected = false;
  if (!state->busy.compare_exchange_strong(expected, true)) return summary;
  platform::Env* env = context.env;

  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> names;
  platform::Status listed = env->ListDirectory(context.folder, &entries);
  if (listed.ok()) {
    state->listingFailed = false;
    for (const platform::DirectoryEntry& entry : entries) {
      if (!entry.isDirectory && IsSpoolFileName(entry.name)) names.push_back(entry.name);
    }
  } else {
    summary.unlisted = true;
    if (!state->listingFailed) {
      PrintErrorLine(
          env,
          "\nSpool folder listing failed: cannot list " + context.folder + ": " + listed.cause(),
          true);
    }
    state->listingFailed = true;
  }
  SortSpoolNames(&names);

  for (const std::string& name : names) {
    if (context.stopRequested && context.stopRequested()) {
      summary.stopped = true;
      break;
    }
    const std::string path = context.folder + platform::kPathSeparator + name;
    std::string content;
    if (!env->ReadWholeFile(path, &content).ok()) {
      ++summary.unreadable;
      continue;
    }
    ++summary.posted;
    platform::HttpExchange reply =
        TALVXML::Exchange(context.url, "POST", "[" + content + "]", "application/json",
                          platform::HttpRequestLimits(), env);
    if (!reply.answered || IsGatewayFailure(reply.status)) {
      summary.ended = true;
      break;
    }
    if (reply.status == 200 && platform::Utf16ToAnsi(reply.responseText) == "OK") {
      // A failed delete leaves the file to be posted again at the next tick.
      if (env->DeleteFileAt(path).ok()) ++summary.accepted;
    }
  }
  state->busy.store(false);
  return summary;
}
