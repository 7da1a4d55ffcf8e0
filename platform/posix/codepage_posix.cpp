#include "common/utf.h"
#include "platform/codepage.h"

namespace platform {

// The POSIX build's code page is UTF-8.
std::u16string AnsiToUtf16(const std::string& text) { return Utf8ToUtf16(text); }
std::string Utf16ToAnsi(const std::u16string& text) { return Utf16ToUtf8(text); }

}  // namespace platform
