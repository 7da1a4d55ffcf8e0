// Text, time and digest helpers shared by every subsystem.
// None keeps state of its own; all are safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/md5.h"

using TextList = std::vector<std::string>;

// Clears list and fills it with the pieces of text between separators. Empty
// pieces between two separators (and before the first) stay; a piece after the
// last separator enters only when it is not empty. Pieces are not trimmed.
void SplitText(const std::string& text, const std::string& separator, TextList* list);

// True when text begins with one of the first count prefixes, or count is 0.
// An empty prefix matches every text. Case-sensitive.
bool StartsWithAny(std::size_t count, const TextList& prefixes, const std::string& text);

// The three MD5 entry points; empty until Md5Hex fills them.
struct DigestFunctions {
  platform::Md5InitFunction init = nullptr;
  platform::Md5UpdateFunction update = nullptr;
  platform::Md5FinalFunction final = nullptr;
};

// The MD5 digest of text as 32 upper-case hexadecimal digits. The empty text
// when MD5 cannot be obtained: every caller treats that as a failure.
std::string Md5Hex(DigestFunctions* digest, const std::string& text);

// Milliseconds since 1970-01-01 UTC: calendar seconds times 1000 plus the
// millisecond field of the local clock.
int64_t NowMilliseconds();

// Formats a millisecond timestamp as local time with a strftime pattern
// ("%Y-%m-%d %H:%M:%S" when empty). The empty text when the conversion
// rejects the timestamp.
std::string FormatLocalTime(int64_t milliseconds, const std::string& pattern);

// printf-style formatting into a new text.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text with ", \ and control characters escaped for a JSON string.
std::string JsonEscape(const std::string& text);
