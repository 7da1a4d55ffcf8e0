#include "app/settings.h"

#include <limits>

#include "platform/profile.h"

AgentSettings agentSettings;

int32_t SecondsToMilliseconds(int32_t seconds) {
  int64_t product = static_cast<int64_t>(seconds) * 1000;
  if (product > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (product < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(product);
}

int LoadSettings(const std::string& configPath, AgentSettings* settings) {
  auto text = [&](const char* section, const char* key, const char* fallback) {
    return platform::ProfileReadText(configPath, section, key, fallback);
  };
  auto number = [&](const char* section, const char* key, int32_t fallback) {
    return platform::ProfileReadInt(configPath, section, key, fallback);
  };

  settings->domain = text("SERVER", "domain", "");
  settings->host = text("SERVER", "host", "127.0.0.1");
  settings->user = text("SERVER", "user", "");
  settings->pass = text("SERVER", "pass", "");
  settings->isautorun = number("SERVER", "isautorun", 0);
  settings->isremote = number("SERVER", "isremote", 0) == 1;

  settings->progid = text("ITEMS", "progid", "");
  settings->group = text("ITEMS", "group", "");
  settings->item = text("ITEMS", "item", "");
  SplitText(text("ITEMS", "itemstarts", ""), ",", &settings->itemstartsList);
  settings->autoitems = number("ITEMS", "autoitems", 0) == 1;
  settings->itemscf = number("ITEMS", "itemscf", 60);
  settings->sampleIntervalMs = SecondsToMilliseconds(number("ITEMS", "cf", 10));
  settings->showread = number("ITEMS", "showread", 0) == 1;
  settings->timebias = number("ITEMS", "timebias", 28800);
  settings->quality = number("ITEMS", "quality", 0) == 1;

  settings->api_host = text("APIS", "api_host", "");

  settings->allowip = text("HTTP", "allowip", "");
  settings->key = text("HTTP", "key", "");
  settings->port = number("HTTP", "port", 0);
  return 1;
}
