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

// After this many ticks in a row in which a file got no answer, the operator
// is told its name once.
constexpr int kUnansweredTicksToReport = 3;

}  // namespace

std::string UploadFailureText(const platform::HttpExchange& reply) {
  if (!reply.reached) return "receiver not reached";
  if (!reply.answered) return reply.failure.empty() ? "no answer" : reply.failure;
  if (!reply.location.empty()) {
    return "status " + std::to_string(reply.status) + ", moved to " +
           platform::Utf16ToAnsi(reply.location);
  }
  if (reply.status != 200) return "status " + std::to_string(reply.status);
  std::string text = platform::Utf16ToAnsi(reply.responseText);
  if (text.size() > 80) text = text.substr(0, 80) + "...";
  return "answered \"" + text + "\"";
}

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
    // The file's name tells a receiver a repeat from a new sample: a stop
    // between its "OK" and the delete posts the file again.
    platform::HttpExchange reply =
        TALVXML::Exchange(context.url, "POST", "[" + content + "]", "application/json",
                          {{"Idempotency-Key", name}}, platform::HttpRequestLimits(), env);
    if (!reply.reached || IsGatewayFailure(reply.status)) {
      summary.failure = UploadFailureText(reply);
      summary.ended = true;
      break;
    }
    if (!reply.answered) {
      // This file may be what the network refuses (too large, reset every
      // time): it stays, and the files after it still get their turn.
      summary.failure = UploadFailureText(reply);
      ++summary.unanswered;
      if (++state->unansweredTicks[name] == kUnansweredTicksToReport) {
        PrintErrorLine(env,
                       "\nUpload of " + path + " got no answer in " +
                           std::to_string(kUnansweredTicksToReport) + " ticks in a row",
                       false);
      }
      continue;
    }
    state->unansweredTicks.erase(name);
    if (!reply.location.empty()) {
      const std::string location = platform::Utf16ToAnsi(reply.location);
      summary.failure = UploadFailureText(reply);
      if (location != state->reportedLocation) {
        PrintErrorLine(env, "\nUpload not accepted: the receiver moved to " + location, false);
        state->reportedLocation = location;
      }
      continue;
    }
    if (reply.status == 200 && platform::Utf16ToAnsi(reply.responseText) == "OK") {
      state->reportedLocation.clear();
      // A failed delete leaves the file to be posted again at the next tick.
      if (env->DeleteFileAt(path).ok()) ++summary.accepted;
    } else {
      summary.failure = UploadFailureText(reply);
    }
  }
  state->busy.store(false);
  return summary;
}
