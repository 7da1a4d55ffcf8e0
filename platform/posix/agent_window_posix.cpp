// The POSIX build has no window, tray or mouse hook: the operator reaches the
// agent through its terminal and signals only.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/agent_window.h"
#include "platform/message_box.h"

namespace platform {
namespace {

// Set once on the main thread before the signal loop runs; read by it only.
AgentShellCallbacks shellCallbacks;

}  // namespace

void SetAgentShellCallbacks(const AgentShellCallbacks& callbacks) { shellCallbacks = callbacks; }

void RestoreOtherAgentConsole(const std::string&) {}

void LoadAgentIcon(const std::string&) {}

bool RegisterAgentWindowClass(const std::string&) { return true; }

bool PrepareAgentConsole() { return true; }

bool CreateAgentWindow(const std::string&) { return true; }

bool InstallCloseClickHook() { return true; }

void RemoveCloseClickHook() {}

void RemoveTrayIcon() {}

void CloseAgentWindow() {}

int ShowAgentWindowBox(const std::string& text, const std::string& caption, unsigned style) {
  return ShowMessageBox(text, caption, style);
}

bool OperatorCanAnswer() { return isatty(STDIN_FILENO) == 1; }

void ExitAgent() {
  RemoveTrayIcon();
  std::fflush(nullptr);
  std::_Exit(0);
}

void DeliverConsoleEvent() {
  if (shellCallbacks.onConsoleEvent == nullptr) ExitAgent();
  shellCallbacks.onConsoleEvent();
}

}  // namespace platform
