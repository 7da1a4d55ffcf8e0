#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/main_loop.h"
#include "platform/process.h"

namespace platform {

bool AcquireInstanceLock(const std::string& name) {
  // The handle is held for the life of the process.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  return true;
}

bool EnterProcessApartment() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  // Hardened DCOM hosts (2021 onward) refuse activation and calls below packet
  // integrity; asking for it process-wide keeps the agent working with them.
  // A failure (security already set, say) is told and startup goes on.
  HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(hr)) {
    // Through the console like every other line, so a redirected stream keeps
    // the order in which the lines were printed.
    char line[64];
    std::snprintf(line, sizeof line, "\nCoInitializeSecurity failed: 0x%08lX",
                  static_cast<unsigned long>(hr));
    ConsoleWrite(line);
  }
  return true;
}

void PrepareProcessSignals() {}

int RunMainLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    // HideConsoleMessage: the close-button hook saw a click on the console's
    // close button; the console goes to the tray instead of ending the agent.
    if (message.hwnd == nullptr && message.message == WM_USER + 1) {
      HWND console = GetConsoleWindow();
      if (console != nullptr) ShowWindow(console, SW_HIDE);
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace platform
