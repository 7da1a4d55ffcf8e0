// The agent's health as the status request answers it.
//
// The report is put together on a connection thread from records that never
// wait for the OPC worker or the session lock, so it answers while a device
// read hangs.
#pragma once

#include <cstdint>
#include <string>

struct AgentStatus {
  std::string version;
  int64_t startedMs = 0;  // milliseconds since 1970
  bool connected = false;
  std::string progid;
  int64_t lastReadMs = 0;    // the last successful sampling read, 0 before the first
  int64_t readFailures = 0;  // failed sampling reads since start
  int64_t stalledMs = 0;     // how long the running server call has run, 0 when none
  int32_t itemsAdded = 0;    // of the last item update
  int32_t itemsFailed = 0;
  int64_t spoolFiles = 0;
  uint64_t spoolBytes = 0;
  std::string spoolOldest;     // the oldest spool file's name, "" when none waits
  std::string uploadHost;      // api_host without user, password, query or fragment
  int64_t lastAcceptedMs = 0;  // 0: none yet in this run
  int64_t lastFailedMs = 0;
  std::string lastFailure;
  int32_t activeConnections = 0;
};

// {"version":..,"started":..,"opc":{..},"items":{..},"spool":{..},
// "upload":{..},"http":{..}}: one JSON object, texts escaped.
std::string AgentStatusJson(const AgentStatus& status);

// The URL with any user and password, query and fragment taken out, so the
// status never shows a secret that the operator put in api_host.
std::string UrlWithoutSecrets(const std::string& url);
