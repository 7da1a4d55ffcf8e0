// UTF-8 <-> UTF-16 conversion, the same on every platform.
// Malformed input becomes U+FFFD; nothing is ever read past the input's end.
#pragma once

#include <string>

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
