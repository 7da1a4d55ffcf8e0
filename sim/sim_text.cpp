#include "sim/sim_text.h"

#include <cmath>
#include <cstdlib>

namespace sim {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string Lower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

bool ParseNumber(const std::string& text, double* value) {
  std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  char* end = nullptr;
  double parsed = std::strtod(trimmed.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

}  // namespace sim
