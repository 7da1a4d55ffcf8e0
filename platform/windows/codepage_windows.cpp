#include <windows.h>

#include "platform/codepage.h"

namespace platform {

std::u16string AnsiToUtf16(const std::string& text) {
  if (text.empty()) return std::u16string();
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(&out[0]), length);
  return out;
}

std::string Utf16ToAnsi(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &out[0], length, nullptr,
                      nullptr);
  return out;
}

}  // namespace platform
