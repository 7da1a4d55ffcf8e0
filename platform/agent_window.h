// The agent's presence on the operator's desktop: the console window, the
// hidden window with its tray icon, the close-button hook and the console
// control events.
//
// Windows: the hidden window (class and name "TALVERO AGENT"), its tray icon
// and the low-level mouse hook live on the main thread, which runs the message
// loop; console control events arrive on a thread the system creates for each
// event. POSIX: there is no window, tray or hook (those calls do nothing and
// succeed); SIGINT and SIGHUP are delivered as console events on the main
// thread by its signal loop.
//
// Unless stated otherwise the calls belong to the main thread. The module keeps
// the window, icon and hook handles for the life of the process.
#pragma once

#include <string>

namespace platform {

// What the system layer hands back to the agent. Every member may be null.
struct AgentShellCallbacks {
  // A tray menu command (3011 About, 3012 Exit, 3013 Autorun); main thread.
  void (*onCommand)(int commandId) = nullptr;
  // Whether autorun is on, for the menu's check mark; main thread.
  bool (*autorunIsOn)() = nullptr;
  // Ctrl+C, Ctrl+Break, close, logoff or shutdown (Windows), SIGINT or SIGHUP
  // (POSIX). Runs on the console control thread (Windows) or the main thread
  // (POSIX). Without a callback the agent ends at once.
  void (*onConsoleEvent)() = nullptr;
};

// Sets the callbacks; call once before RegisterAgentWindowClass.
void SetAgentShellCallbacks(const AgentShellCallbacks& callbacks);

// Brings back the console window of another running agent, found by its title
// instanceName. Nothing happens when there is none.
void RestoreOtherAgentConsole(const std::string& instanceName);

// Loads the icon file at its own size and gives it to the console window as its
// small icon; the same icon is used by the window class and the tray. A missing
// or unreadable file leaves the agent without an icon.
void LoadAgentIcon(const std::string& iconPath);

// Registers the hidden window's class named title. False when the system
// refuses.
bool RegisterAgentWindowClass(const std::string& title);

// Removes the console's Close command, installs the console control handler,
// hides the cursor and switches off quick-edit mode. False only when the
// control handler could not be installed (the rest is best effort).
bool PrepareAgentConsole();

// Creates the hidden window named title, which adds the tray icon. False on
// failure.
bool CreateAgentWindow(const std::string& title);

// Installs and removes the low-level mouse hook that turns a click on the
// console's close button into hiding the console.
bool InstallCloseClickHook();
void RemoveCloseClickHook();

// Deletes the tray icon from the notification area; safe from any thread and
// more than once.
void RemoveTrayIcon();

// Closes the hidden window (its destruction removes the tray icon and asks the
// message loop to end).
void CloseAgentWindow();

// Shows a message box owned by the hidden window (without owner when there is
// none; on POSIX as ShowMessageBox). Returns the button chosen.
int ShowAgentWindowBox(const std::string& text, const std::string& caption, unsigned style);

// True when a question can reach the operator: always on Windows (a message
// box), on POSIX when standard input is a terminal. Safe from any thread.
bool OperatorCanAnswer();

// Removes the tray icon and ends the process with exit code 0 at once, while
// the workers still run. Output already written is flushed; static records are
// not torn down, since running workers still read them. Safe from any thread.
[[noreturn]] void ExitAgent();

// POSIX signal loop only: hands SIGINT or SIGHUP to the console event callback.
void DeliverConsoleEvent();

}  // namespace platform
