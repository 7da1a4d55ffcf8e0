#include "common/text.h"

namespace {

bool IsBlank(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

}  // namespace

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string AsciiLower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

int32_t ParseLeadingIntegerSaturating(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Held at 2^31 while reading, which is enough to tell either limit.
  int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<int32_t>(value);
}

int32_t ParseLeadingIntegerWrapping(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

std::string ShownOnOneLine(const std::string& text, std::size_t most) {
  std::string shown = text.substr(0, most);
  for (char& ch : shown) {
    if (static_cast<unsigned char>(ch) < ' ' || ch == '\x7f') ch = '?';
  }
  return text.size() > most ? shown + "..." : shown;
}
