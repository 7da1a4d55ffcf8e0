// The agent's settings, read once at startup from data/config.ini.
#pragma once

#include <cstdint>
#include <string>

#include "common/log.h"
#include "common/text_helpers.h"

struct AgentSettings {
  // SERVER
  std::string domain;
  std::string host;
  std::string user;
  std::string pass;
  int32_t isautorun = 0;
  bool isremote = false;
  // ITEMS
  std::string progid;
  std::string group;
  std::string item;
  TextList itemstartsList;
  bool autoitems = false;
  int32_t itemscf = 0;
  int32_t sampleIntervalMs = 0;
  bool showread = false;
  int32_t timebias = 28800;  // seconds subtracted from UTC in every record's t
  bool quality = false;      // records carry the OPC quality as "q"
  // APIS
  std::string api_host;
  // HTTP
  std::string allowip;
  std::string key;
  int32_t port = 0;
  // LOG
  bool logFile = false;   // the console's lines are kept in data/log/agent.log
  int32_t logMaxMb = 10;  // MiB at which agent.log is moved to agent.1.log
  int32_t logKeep = 5;    // older files kept
};

// Fills settings from the settings file at configPath. Returns 1.
// An integer key whose value is not a number, or lies outside the key's
// range, takes the key's default; one console line per such key (naming the
// key, the value given and the value used) is added to warnings when given.
int LoadSettings(const std::string& configPath, AgentSettings* settings,
                 TextList* warnings = nullptr);

// The log file's settings: its folder and the [LOG] keys.
LogFileSettings LogFileSettingsOf(const AgentSettings& settings, const std::string& folder);

// cf seconds as milliseconds, clamped to the 32-bit range.
int32_t SecondsToMilliseconds(int32_t seconds);
