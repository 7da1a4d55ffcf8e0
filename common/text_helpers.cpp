#include "common/text_helpers.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

void SplitText(const std::string& text, const std::string& separator, TextList* list) {
  list->clear();
  if (separator.empty()) {
    if (!text.empty()) list->push_back(text);
    return;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t found = text.find(separator, start);
    if (found == std::string::npos) break;
    list->push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  if (start < text.size()) list->push_back(text.substr(start));
}

bool StartsWithAny(std::size_t count, const TextList& prefixes, const std::string& text) {
  if (count == 0) return true;
  for (std::size_t i = 0; i < count && i < prefixes.size(); ++i) {
    if (text.compare(0, prefixes[i].size(), prefixes[i]) == 0) return true;
  }
  return false;
}

std::string Md5Hex(DigestFunctions* digest, const std::string& text) {
  if (!platform::LoadMd5EntryPoints(&digest->init, &digest->update, &digest->final)) {
    return std::string();
  }
  platform::Md5Context context;
  std::memset(&context, 0, sizeof context);
  // The bytes up to the first zero byte, as a C string would give them.
  std::size_t length = std::strlen(text.c_str());
  digest->init(&context);
  digest->update(&context, reinterpret_cast<const unsigned char*>(text.data()),
                 static_cast<unsigned int>(length));
  digest->final(&context);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(32);
  for (std::size_t i = 0; i < 16; ++i) {
    unsigned char byte = context.bytes[platform::kMd5DigestOffset + i];
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

int64_t NowMilliseconds() {
  int milliseconds = platform::LocalMilliseconds();
  return platform::CalendarSeconds() * 1000 + milliseconds;
}

std::string FormatLocalTime(int64_t milliseconds, const std::string& pattern) {
  std::tm local{};
  if (!platform::ToLocalTime(milliseconds / 1000, &local)) return std::string();
  char buffer[100];
  const char* format = pattern.empty() ? "%Y-%m-%d %H:%M:%S" : pattern.c_str();
  std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (length > 0) {
    out.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<std::size_t>(length));
  }
  va_end(args);
  return out;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
          out += escaped;
        } else {
          out.push_back(ch);
        }
    }
  }
  return out;
}
