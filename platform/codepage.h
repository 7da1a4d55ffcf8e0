// Conversions between the system ANSI code page and UTF-16. On POSIX the ANSI
// code page is UTF-8. Characters the code page lacks become its default
// character. Pure functions, safe from any thread.
#pragma once

#include <string>

namespace platform {

std::u16string AnsiToUtf16(const std::string& text);
std::string Utf16ToAnsi(const std::u16string& text);

}  // namespace platform
