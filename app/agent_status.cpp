#include "app/agent_status.h"

#include "common/text_helpers.h"

std::string UrlWithoutSecrets(const std::string& url) {
  std::string kept = url.substr(0, url.find_first_of("?#"));
  const std::size_t scheme = kept.find("://");
  const std::size_t authorityStart = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t authorityEnd = kept.find('/', authorityStart);
  const std::size_t at =
      kept.rfind('@', authorityEnd == std::string::npos ? kept.size() - 1 : authorityEnd);
  if (at != std::string::npos && at >= authorityStart &&
      (authorityEnd == std::string::npos || at < authorityEnd)) {
    kept.erase(authorityStart, at + 1 - authorityStart);
  }
  return kept;
}

std::string AgentStatusJson(const AgentStatus& s) {
  auto text = [](const std::string& value) { return "\"" + JsonEscape(value) + "\""; };
  auto number = [](int64_t value) { return std::to_string(value); };
  return "{\"version\":" + text(s.version) + ",\"started\":" + number(s.startedMs) +
         ",\"opc\":{\"connected\":" + (s.connected ? "true" : "false") +
         ",\"progid\":" + text(s.progid) + ",\"lastRead\":" + number(s.lastReadMs) +
         ",\"readFailures\":" + number(s.readFailures) + ",\"stalledMs\":" + number(s.stalledMs) +
         "},\"items\":{\"added\":" + number(s.itemsAdded) + ",\"failed\":" + number(s.itemsFailed) +
         "},\"spool\":{\"files\":" + number(s.spoolFiles) +
         ",\"bytes\":" + std::to_string(s.spoolBytes) + ",\"oldest\":" + text(s.spoolOldest) +
         "},\"upload\":{\"host\":" + text(s.uploadHost) +
         ",\"accepted\":" + number(s.lastAcceptedMs) + ",\"failed\":" + number(s.lastFailedMs) +
         ",\"failure\":" + text(s.lastFailure) +
         "},\"http\":{\"busy\":" + number(s.activeConnections) + "}}";
}
