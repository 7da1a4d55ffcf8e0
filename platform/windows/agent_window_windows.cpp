// The hidden window, tray icon, close-button hook and console control handler
// of the Windows build.
#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/agent_window.h"
#include "platform/message_box.h"

namespace platform {
namespace {

constexpr UINT kTrayCallbackMessage = WM_USER;     // TrayCallbackMessage
constexpr UINT kHideConsoleMessage = WM_USER + 1;  // HideConsoleMessage
constexpr UINT kTrayIconId = 128;
constexpr UINT kIdAbout = 3011;
constexpr UINT kIdExit = 3012;
constexpr UINT kIdAutorun = 3013;

// Written on the main thread during startup, before the window, hook and
// control handler exist; read-only afterwards.
AgentShellCallbacks shellCallbacks;
HICON agentIcon = nullptr;

// Main thread only: the hidden window and the hook.
HWND agentWindow = nullptr;
HHOOK closeHook = nullptr;

// The tray icon record. Filled on the main thread when the window is created,
// deleted from the main thread or from a console control thread (ExitAgent).
// trayLock guards trayIcon and trayAdded.
std::mutex trayLock;
NOTIFYICONDATAA trayIcon;
bool trayAdded = false;

void AddTrayIcon(HWND window) {
  std::lock_guard<std::mutex> hold(trayLock);
  std::memset(&trayIcon, 0, sizeof trayIcon);
  trayIcon.cbSize = sizeof trayIcon;
  trayIcon.hWnd = window;
  trayIcon.uID = kTrayIconId;
  trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayIcon.uCallbackMessage = kTrayCallbackMessage;
  trayIcon.hIcon = agentIcon;
  std::strncpy(trayIcon.szTip, "TALVERO AGENT", sizeof trayIcon.szTip - 1);
  trayAdded = Shell_NotifyIconA(NIM_ADD, &trayIcon) != FALSE;
}

void RestoreConsole(HWND window) {
  WINDOWPLACEMENT placement;
  std::memset(&placement, 0, sizeof placement);
  placement.length = sizeof placement;
  if (GetWindowPlacement(window, &placement)) {
    placement.showCmd = SW_RESTORE;
    SetWindowPlacement(window, &placement);
  }
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  FlashWindow(window, TRUE);
  SetForegroundWindow(window);
  ShowWindow(window, SW_SHOW);
}

void ShowTrayMenu(HWND window) {
  bool autorunOn = shellCallbacks.autorunIsOn != nullptr && shellCallbacks.autorunIsOn();
  POINT cursor = {0, 0};
  GetCursorPos(&cursor);
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  AppendMenuA(menu, MF_STRING, kIdAbout, "About");
  AppendMenuA(menu, MF_STRING | (autorunOn ? MF_CHECKED : MF_UNCHECKED), kIdAutorun, "Autorun");
  AppendMenuA(menu, MF_STRING, kIdExit, "Exit");
  // Without the foreground the menu would not close when the operator clicks
  // elsewhere; the WM_NULL lets it close on the second click as well.
  SetForegroundWindow(window);
  PostMessageA(window, WM_NULL, 0, 0);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  DestroyMenu(menu);
}

LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  switch (message) {
    case WM_COMMAND:
      if (shellCallbacks.onCommand != nullptr) shellCallbacks.onCommand(LOWORD(wParam));
      break;
    case WM_CREATE:
      AddTrayIcon(window);
      break;
    case WM_DESTROY:
      RemoveTrayIcon();
      PostQuitMessage(0);
      break;
    case kTrayCallbackMessage:
      switch (static_cast<UINT>(lParam)) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK: {
          HWND console = GetConsoleWindow();
          if (console != nullptr) RestoreConsole(console);
          break;
        }
        case WM_RBUTTONDOWN:
          ShowTrayMenu(window);
          break;
        default:
          break;
      }
      break;
    default:
      // The shell was restarted: the icon must be added again.
      if (taskbarCreated != 0 && message == taskbarCreated) SendMessageA(window, WM_CREATE, 0, 0);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK CloseClickHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0 && wParam == WM_LBUTTONDOWN) {
    const MSLLHOOKSTRUCT* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
    HWND console = GetConsoleWindow();
    if (console != nullptr) {
      LPARAM point = static_cast<LPARAM>((static_cast<DWORD>(event->pt.x) & 0xFFFF) |
                                         ((static_cast<DWORD>(event->pt.y) & 0xFFFF) << 16));
      if (SendMessageA(console, WM_NCHITTEST, 0, point) == HTCLOSE) {
        // The console is hidden by the main loop; the click never reaches it.
        PostThreadMessageA(GetCurrentThreadId(), kHideConsoleMessage, 0, 0);
        return 1;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI ConsoleCtrlHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (shellCallbacks.onConsoleEvent == nullptr) ExitAgent();
      shellCallbacks.onConsoleEvent();  // returns when the operator said No
      return TRUE;
    default:
      return TRUE;
  }
}

}  // namespace

void SetAgentShellCallbacks(const AgentShellCallbacks& callbacks) { shellCallbacks = callbacks; }

void RestoreOtherAgentConsole(const std::string& instanceName) {
  HWND other = FindWindowA(nullptr, instanceName.c_str());
  if (other != nullptr) RestoreConsole(other);
}

void LoadAgentIcon(const std::string& iconPath) {
  agentIcon =
      static_cast<HICON>(LoadImageA(nullptr, iconPath.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  HWND console = GetConsoleWindow();
  if (agentIcon != nullptr && console != nullptr) {
    SendMessageA(console, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(agentIcon));
  }
}

bool RegisterAgentWindowClass(const std::string& title) {
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = AgentWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hIcon = agentIcon;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  // The class name lives as long as the process: the title is a constant.
  static std::string className;
  className = title;
  windowClass.lpszClassName = className.c_str();
  return RegisterClassA(&windowClass) != 0;
}

bool PrepareAgentConsole() {
  HWND console = GetConsoleWindow();
  if (console != nullptr) {
    HMENU systemMenu = GetSystemMenu(console, FALSE);
    if (systemMenu != nullptr) DeleteMenu(systemMenu, SC_CLOSE, MF_BYCOMMAND);
  }
  bool handlerInstalled = SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE) != FALSE;
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_CURSOR_INFO cursor;
  if (GetConsoleCursorInfo(output, &cursor)) {
    cursor.bVisible = FALSE;
    SetConsoleCursorInfo(output, &cursor);
  }
  // A click in the console must not start a selection: a selection stops every
  // thread that prints until it ends.
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) {
    mode &= ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE);
    mode |= ENABLE_EXTENDED_FLAGS;
    SetConsoleMode(input, mode);
  }
  return handlerInstalled;
}

bool CreateAgentWindow(const std::string& title) {
  agentWindow = CreateWindowExA(WS_EX_TOOLWINDOW, title.c_str(), title.c_str(), WS_POPUP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  if (agentWindow == nullptr) return false;
  UpdateWindow(agentWindow);  // never shown
  return true;
}

bool InstallCloseClickHook() {
  closeHook = SetWindowsHookExA(WH_MOUSE_LL, CloseClickHook, nullptr, 0);
  return closeHook != nullptr;
}

void RemoveCloseClickHook() {
  if (closeHook != nullptr) UnhookWindowsHookEx(closeHook);
  closeHook = nullptr;
}

void RemoveTrayIcon() {
  std::lock_guard<std::mutex> hold(trayLock);
  if (!trayAdded) return;
  Shell_NotifyIconA(NIM_DELETE, &trayIcon);
  trayAdded = false;
}

void CloseAgentWindow() {
  if (agentWindow != nullptr) SendMessageA(agentWindow, WM_CLOSE, 0, 0);
}

int ShowAgentWindowBox(const std::string& text, const std::string& caption, unsigned style) {
  HWND owner = agentWindow != nullptr && IsWindow(agentWindow) ? agentWindow : nullptr;
  return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

bool OperatorCanAnswer() { return true; }

void ExitAgent() {
  RemoveTrayIcon();
  std::fflush(nullptr);
  // Not exit(): the workers still run and read the process-wide records that
  // exit() would destroy under them.
  std::_Exit(0);
}

void DeliverConsoleEvent() { ConsoleCtrlHandler(CTRL_C_EVENT); }

}  // namespace platform
