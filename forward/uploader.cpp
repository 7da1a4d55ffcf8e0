#include "forward/uploader.h"

#include <algorithm>
#include <vector>

#include "common/console_output.h"
#include "common/text_helpers.h"
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

// A tick names at most this many files of a kind one by one and counts the
// rest in one line, so a folder of thousands does not flood the console.
constexpr int kNamedPerTick = 10;

// How much of a receiver's text the words for a refusal show.
constexpr std::size_t kShownAnswerLength = 80;

const char kAnsweredPrefix[] = "answered \"";

// The receiver's text as it can be shown on one line: control characters
// become escapes.
std::string Printable(const std::string& text) {
  std::string shown;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte == 0x7f) {
      shown += FormatText("\\x%02x", byte);
    } else {
      shown += c;
    }
  }
  return shown;
}

// The kind of a refusal as the operator is told of it: its words, except
// that every text other than "OK" is one kind. A receiver that answers
// something new each time (an id, a time) would otherwise get a line per post.
std::string RefusalKind(const std::string& told) {
  const std::string answered = kAnsweredPrefix;
  return told.compare(0, answered.size(), answered) == 0 ? answered : told;
}

// Records why a post was not accepted in the tick's refusals, and tells the
// operator of a reason that the last tick with posts did not have: files
// that keep failing, each for a reason of its own, are told of once, not at
// every tick.
void NoteRefusal(platform::Env* env, const platform::HttpExchange& reply,
                 const UploaderState& state, std::set<std::string>* tickRefusals,
                 UploadSummary* summary) {
  summary->failure = UploadFailureText(reply);
  const std::string told = reply.location.empty()
                               ? summary->failure
                               : "the receiver moved to " + platform::Utf16ToAnsi(reply.location);
  const std::string kind = RefusalKind(told);
  if (!tickRefusals->insert(kind).second || state.lastRefusals.count(kind) != 0) return;
  PrintErrorLine(env, "\nUpload not accepted: " + told, false);
}

// Deletes an accepted file. A file that is gone already counts as deleted.
bool DeleteAccepted(platform::Env* env, const std::string& path, std::string* cause) {
  platform::Status deleted = env->DeleteFileAt(path);
  if (deleted.ok() || !env->PathExists(path)) return true;
  *cause = deleted.cause();
  return false;
}

// Keeps of names only those in present (both sorted).
template <typename Container, typename Key>
void KeepOnly(Container* names, const std::vector<std::string>& present, Key key) {
  for (auto it = names->begin(); it != names->end();) {
    if (std::binary_search(present.begin(), present.end(), key(*it))) {
      ++it;
    } else {
      it = names->erase(it);
    }
  }
}

}  // namespace

std::string UploadFailureText(const platform::HttpExchange& reply) {
  if (!reply.reached) {
    return reply.failure.empty() ? "receiver not reached"
                                 : "receiver not reached: " + reply.failure;
  }
  if (!reply.answered) return reply.failure.empty() ? "no answer" : reply.failure;
  if (!reply.location.empty()) {
    return "status " + std::to_string(reply.status) + ", moved to " +
           platform::Utf16ToAnsi(reply.location);
  }
  if (reply.status != 200) return "status " + std::to_string(reply.status);
  std::string text = platform::Utf16ToAnsi(reply.responseText);
  const bool cut = text.size() > kShownAnswerLength;
  if (cut) text.resize(kShownAnswerLength);
  return kAnsweredPrefix + Printable(text) + (cut ? "...\"" : "\"");
}

UploadSummary UploadTickWith(const UploaderContext& context, UploaderState* state) {
  UploadSummary summary;
  if (context.url.empty()) return summary;
  bool expected = false;
  if (!state->busy.compare_exchange_strong(expected, true)) return summary;
  platform::Env* env = context.env;
  const std::string prefix = context.folder + platform::kPathSeparator;

  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> names;
  std::vector<std::string> foreign;
  platform::Status listed = env->ListDirectory(context.folder, &entries);
  if (listed.ok()) {
    state->listingFailed = false;
    for (const platform::DirectoryEntry& entry : entries) {
      if (entry.isDirectory || IsSpoolTemporaryName(entry.name)) continue;
      (IsSpoolFileName(entry.name) ? names : foreign).push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    std::sort(foreign.begin(), foreign.end());
    // What has left the folder is forgotten; a name that comes back is new.
    KeepOnly(&state->unansweredTicks, names, [](const auto& item) { return item.first; });
    KeepOnly(&state->acceptedUndeleted, names, [](const std::string& name) { return name; });
    KeepOnly(&state->foreignTold, foreign, [](const std::string& name) { return name; });
    int named = 0;
    for (const std::string& name : foreign) {
      if (!state->foreignTold.insert(name).second) continue;
      if (named++ < kNamedPerTick) {
        PrintErrorLine(env, "\nNot a spool file, left in place: " + prefix + name, false);
      }
    }
    if (named > kNamedPerTick) {
      PrintErrorLine(
          env,
          FormatText("\nNot spool files, left in place: %d more in ", named - kNamedPerTick) +
              context.folder,
          false);
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

  std::set<std::string> tickRefusals;  // the kinds of refusal of this tick's posts
  int undeletedNamed = 0;              // files told in this tick that they cannot be deleted
  std::string undeletedCause;          // the cause given for the last of them
  for (const std::string& name : names) {
    if (context.stopRequested && context.stopRequested()) {
      summary.stopped = true;
      break;
    }
    const std::string path = prefix + name;
    std::string cause;
    if (state->acceptedUndeleted.count(name) != 0) {
      // The receiver has it: posting it again would deliver it twice.
      if (DeleteAccepted(env, path, &cause)) {
        state->acceptedUndeleted.erase(name);
      } else {
        ++summary.undeleted;
        summary.failure = "accepted but not deleted: " + cause;
      }
      continue;
    }
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
    // A receiver away, behind a failing gateway or a secure channel that
    // cannot be set up refuses every file alike: the tick ends at the first.
    if (!reply.reached || IsGatewayFailure(reply.status) ||
        platform::IsSecureChannelFailure(reply)) {
      NoteRefusal(env, reply, *state, &tickRefusals, &summary);
      summary.ended = true;
      break;
    }
    if (!reply.answered) {
      // This file may be what the network refuses (too large, reset every
      // time): it stays, and the files after it still get their turn.
      NoteRefusal(env, reply, *state, &tickRefusals, &summary);
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
    if (reply.location.empty() && reply.status == 200 &&
        platform::Utf16ToAnsi(reply.responseText) == "OK") {
      ++summary.accepted;
      if (!DeleteAccepted(env, path, &cause)) {
        state->acceptedUndeleted.insert(name);
        ++summary.undeleted;
        summary.failure = "accepted but not deleted: " + cause;
        undeletedCause = cause;
        if (undeletedNamed++ < kNamedPerTick) {
          PrintErrorLine(
              env, "\nUpload of " + path + " accepted, but the file cannot be deleted: " + cause,
              false);
        }
      }
    } else {
      NoteRefusal(env, reply, *state, &tickRefusals, &summary);
    }
  }
  if (undeletedNamed > kNamedPerTick) {
    PrintErrorLine(env,
                   FormatText("\nUploads accepted, but %d more files cannot be deleted: ",
                              undeletedNamed - kNamedPerTick) +
                       undeletedCause,
                   false);
  }
  if (summary.posted > 0) state->lastRefusals.swap(tickRefusals);
  state->busy.store(false);
  return summary;
}
