// The settings file reader and writer of the POSIX build. It follows the
// Windows private-profile functions exactly where the agent depends on them;
// one table of cases runs against this reader and, under Wine, against the
// Windows functions themselves.
#include <cstdio>
#include <cstdint>
#include <vector>

#include "common/text.h"
#include "platform/file_system.h"
#include "platform/profile.h"

namespace platform {
namespace {

// One line of the file as the profile functions see it.
struct ProfileLine {
  std::string raw;        // the line without its line end
  bool isSection = false; // "[name]"
  bool isKey = false;     // "name=value"
  std::string name;       // section or key name
  std::string value;      // key value, blanks dropped
};

ProfileLine ParseLine(const std::string& raw) {
  ProfileLine line;
  line.raw = raw;
  std::string text = TrimBlanks(raw);
  if (text.empty()) return line;
  if (text[0] == '[') {
    std::size_t close = text.rfind(']');
    if (close != std::string::npos) {
      line.isSection = true;
      line.name = text.substr(1, close - 1);
      return line;
    }
  }
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return line;  // a key without value counts as absent
  line.isKey = true;
  line.name = TrimBlanks(text.substr(0, equals));
  line.value = TrimBlanks(text.substr(equals + 1));
  return line;
}

std::vector<ProfileLine> LoadProfile(const std::string& path, bool* loaded) {
  std::string content;
  *loaded = ReadWholeFile(path, &content);
  // A byte-order mark before the first line is not part of it.
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  std::vector<ProfileLine> lines;
  for (const std::string& raw : SplitLines(content)) lines.push_back(ParseLine(raw));
  return lines;
}

// Index of the first matching section header, or -1. Lines before any header
// belong to the unnamed section, which no lookup reaches.
long FindSection(const std::vector<ProfileLine>& lines, const std::string& section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].isSection && EqualsIgnoringAsciiCase(lines[i].name, section)) return static_cast<long>(i);
  }
  return -1;
}

// Index of the first matching key in the section starting at sectionIndex, or -1.
long FindKey(const std::vector<ProfileLine>& lines, long sectionIndex, const std::string& key) {
  for (std::size_t i = static_cast<std::size_t>(sectionIndex) + 1; i < lines.size(); ++i) {
    if (lines[i].isSection) break;
    if (lines[i].isKey && EqualsIgnoringAsciiCase(lines[i].name, key)) return static_cast<long>(i);
  }
  return -1;
}

std::string StripMatchingQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::string ProfileReadText(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& defaultValue) {
  bool loaded = false;
  std::vector<ProfileLine> lines = LoadProfile(path, &loaded);
  long sectionIndex = FindSection(lines, TrimBlanks(section));
  if (sectionIndex >= 0) {
    long keyIndex = FindKey(lines, sectionIndex, TrimBlanks(key));
    if (keyIndex >= 0) return StripMatchingQuotes(lines[static_cast<std::size_t>(keyIndex)].value);
  }
  // The profile functions drop trailing blanks of the default.
  std::string fallback = defaultValue;
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  return fallback;
}

int32_t ProfileReadInt(const std::string& path, const std::string& section,
                       const std::string& key, int32_t defaultValue) {
  std::string text = ProfileReadText(path, section, key, "");
  if (text.empty()) return defaultValue;
  // Decimal digits after blanks and an optional sign, wrapping as the
  // Windows conversion does.
  return ParseLeadingIntegerWrapping(text);
}

bool ProfileWriteText(const std::string& path, const std::string& section,
                      const std::string& key, const std::string& value) {
  std::string content;
  bool existed = ReadWholeFile(path, &content);
  std::string lineEnd = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  bool loaded = false;
  std::vector<ProfileLine> lines = existed ? LoadProfile(path, &loaded) : std::vector<ProfileLine>();
  std::string entry = TrimBlanks(key) + "=" + value;
  long sectionIndex = FindSection(lines, TrimBlanks(section));
  if (sectionIndex < 0) {
    if (!lines.empty() && !TrimBlanks(lines.back().raw).empty()) lines.push_back(ParseLine(""));
    lines.push_back(ParseLine("[" + TrimBlanks(section) + "]"));
    lines.push_back(ParseLine(entry));
  } else {
    long keyIndex = FindKey(lines, sectionIndex, TrimBlanks(key));
    if (keyIndex >= 0) {
      lines[static_cast<std::size_t>(keyIndex)] = ParseLine(entry);
    } else {
      // After the section's last non-empty line.
      std::size_t insertAt = static_cast<std::size_t>(sectionIndex) + 1;
      for (std::size_t i = insertAt; i < lines.size() && !lines[i].isSection; ++i) {
        if (!TrimBlanks(lines[i].raw).empty()) insertAt = i + 1;
      }
      lines.insert(lines.begin() + static_cast<long>(insertAt), ParseLine(entry));
    }
  }
  std::string out;
  for (const ProfileLine& line : lines) out += line.raw + lineEnd;
  return ReplaceFileDurably(path, out);
}

}  // namespace platform
