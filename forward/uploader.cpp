#include "forward/uploader.h"

#include <vector>

#include "app/settings.h"
#include "forward/spool_file.h"
#include "forward/talvxml.h"
#include "platform/codepage.h"
#include "platform/file_system.h"

UploadSummary UploadTickWith(const UploaderContext& context, std::atomic<bool>* busy) {
  UploadSummary summary;
  if (context.url.empty()) return summary;
  bool expected = false;
  if (!busy->compare_exchange_strong(expected, true)) return summary;

  std::vector<platform::DirectoryEntry> entries;
  std::vector<std::string> names;
  if (platform::ListDirectory(context.folder, &entries)) {
    for (const platform::DirectoryEntry& entry : entries) {
      if (!entry.isDirectory && IsSpoolFileName(entry.name)) names.push_back(entry.name);
    }
  }
  SortSpoolNames(&names);

  for (const std::string& name : names) {
    const std::string path = context.folder + platform::kPathSeparator + name;
    std::string content;
    if (!platform::ReadWholeFile(path, &content)) {
      ++summary.unreadable;
      continue;
    }
    ++summary.posted;
    platform::HttpExchange reply = context.post(context.url, "[" + content + "]");
    if (!reply.answered) {
      summary.ended = true;
      break;
    }
    if (reply.status == 200 && platform::Utf16ToAnsi(reply.responseText) == "OK") {
      // A failed delete leaves the file to be posted again at the next tick.
      if (platform::DeleteFileAt(path)) ++summary.accepted;
    }
  }
  busy->store(false);
  return summary;
}

void UploadTick() {
  static std::atomic<bool> busy{false};
  UploaderContext context;
  context.url = agentSettings.api_host;
  context.folder = SpoolFolder();
  context.post = [](const std::string& url, const std::string& body) {
    return TALVXML::Exchange(url, "POST", body, "application/json");
  };
  UploadTickWith(context, &busy);
}
