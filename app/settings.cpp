#include "app/settings.h"

#include <limits>

#include "common/text.h"
#include "platform/profile.h"

int32_t SecondsToMilliseconds(int32_t seconds) {
  int64_t product = static_cast<int64_t>(seconds) * 1000;
  if (product > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (product < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(product);
}

LogFileSettings LogFileSettingsOf(const AgentSettings& settings, const std::string& folder) {
  LogFileSettings file;
  file.enabled = settings.logFile;
  file.folder = folder;
  file.maxBytes = static_cast<uint64_t>(settings.logMaxMb) << 20;
  file.keep = settings.logKeep;
  return file;
}

namespace {

constexpr int32_t kLowest = std::numeric_limits<int32_t>::min();
constexpr int32_t kHighest = std::numeric_limits<int32_t>::max();
constexpr int32_t kSecondsPerDay = 86400;

// One integer key of the settings file: where it lives, what a missing,
// malformed or out-of-range value becomes, and which field it fills.
struct IntegerRule {
  const char* section;
  const char* key;
  int32_t fallback;
  int32_t lowest;
  int32_t highest;
  void (*store)(AgentSettings* settings, int32_t value);
};

// Every integer key. A flag takes any 32-bit number, and only 1 switches it
// on; the other keys are held to what the agent can work with: an interval of
// 0 would run the sampler and uploader back to back, and a port outside
// 0..65535 names no port at all.
const IntegerRule kIntegerRules[] = {
    {"SERVER", "isautorun", 0, kLowest, kHighest,
     [](AgentSettings* s, int32_t v) { s->isautorun = v; }},
    {"SERVER", "isremote", 0, kLowest, kHighest,
     [](AgentSettings* s, int32_t v) { s->isremote = v == 1; }},
    {"ITEMS", "autoitems", 0, kLowest, kHighest,
     [](AgentSettings* s, int32_t v) { s->autoitems = v == 1; }},
    // Supervisor ticks (one a second) between reloads of the item set.
    {"ITEMS", "itemscf", 60, 1, kSecondsPerDay,
     [](AgentSettings* s, int32_t v) { s->itemscf = v; }},
    // Seconds between samples and between upload rounds.
    {"ITEMS", "cf", 10, 1, kSecondsPerDay,
     [](AgentSettings* s, int32_t v) { s->sampleIntervalMs = SecondsToMilliseconds(v); }},
    {"ITEMS", "showread", 0, kLowest, kHighest,
     [](AgentSettings* s, int32_t v) { s->showread = v == 1; }},
    // Seconds subtracted from UTC: a day either way covers every time zone.
    {"ITEMS", "timebias", 28800, -kSecondsPerDay, kSecondsPerDay,
     [](AgentSettings* s, int32_t v) { s->timebias = v; }},
    {"ITEMS", "quality", 0, kLowest, kHighest,
     [](AgentSettings* s, int32_t v) { s->quality = v == 1; }},
    // 0 keeps meaning "no HTTP API".
    {"HTTP", "port", 0, 0, 65535, [](AgentSettings* s, int32_t v) { s->port = v; }},
    {"LOG", "file", 0, kLowest, kHighest, [](AgentSettings* s, int32_t v) { s->logFile = v == 1; }},
    // A file of at least a MiB, and at most what a text viewer opens with ease.
    {"LOG", "maxmb", 10, 1, 1024, [](AgentSettings* s, int32_t v) { s->logMaxMb = v; }},
    {"LOG", "keep", 5, 0, 100, [](AgentSettings* s, int32_t v) { s->logKeep = v; }},
};

// The value of text when all of it is one decimal integer with an optional
// sign; false otherwise. Digits beyond what 64 bits hold are held at a value
// that lies outside every rule's range.
bool ParseWholeInteger(const std::string& text, int64_t* value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > (int64_t{1} << 40)) magnitude = int64_t{1} << 40;
  }
  *value = negative ? -magnitude : magnitude;
  return true;
}

// A value as the console shows it: control bytes (a terminal would obey an
// escape sequence) become '?', and a long value is cut.
std::string ShownValue(const std::string& text) { return ShownOnOneLine(text, 40); }

// The value of the rule's key. A missing or empty value takes the default
// quietly, as the profile functions do; a value that is no number, or one
// outside the rule's range, takes the default with a warning that names the
// key, the value given and the value used.
int32_t ReadChecked(const std::string& configPath, const IntegerRule& rule, TextList* warnings) {
  std::string text = TrimBlanks(platform::ProfileReadText(configPath, rule.section, rule.key, ""));
  if (text.empty()) return rule.fallback;
  int64_t value = 0;
  std::string fault;
  if (!ParseWholeInteger(text, &value)) {
    fault = "is not a number";
  } else if (value < rule.lowest || value > rule.highest) {
    fault = FormatText("is out of range %d..%d", rule.lowest, rule.highest);
  } else {
    return static_cast<int32_t>(value);
  }
  if (warnings != nullptr) {
    warnings->push_back(FormatText("\nSetting %s=%s %s; using %d", rule.key,
                                   ShownValue(text).c_str(), fault.c_str(), rule.fallback));
  }
  return rule.fallback;
}

}  // namespace

int LoadSettings(const std::string& configPath, AgentSettings* settings, TextList* warnings) {
  auto text = [&](const char* section, const char* key, const char* fallback) {
    return platform::ProfileReadText(configPath, section, key, fallback);
  };

  settings->domain = text("SERVER", "domain", "");
  settings->host = text("SERVER", "host", "127.0.0.1");
  settings->user = text("SERVER", "user", "");
  settings->pass = text("SERVER", "pass", "");

  settings->progid = text("ITEMS", "progid", "");
  settings->group = text("ITEMS", "group", "");
  settings->item = text("ITEMS", "item", "");
  SplitText(text("ITEMS", "itemstarts", ""), ",", &settings->itemstartsList);

  settings->api_host = text("APIS", "api_host", "");

  settings->allowip = text("HTTP", "allowip", "");
  settings->key = text("HTTP", "key", "");

  for (const IntegerRule& rule : kIntegerRules) {
    rule.store(settings, ReadChecked(configPath, rule, warnings));
  }
  return 1;
}
