#include <windows.h>

#include "platform/message_box.h"

namespace platform {

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style) {
  return MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace platform
