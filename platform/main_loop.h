// The main thread's loop after startup.
//
// Windows: the window message loop of the main thread (it also hides the
// console on HideConsoleMessage); returns the code of WM_QUIT. POSIX: waits for
// signals; SIGTERM returns 0 for the orderly shutdown, SIGINT and SIGHUP go to
// DeliverConsoleEvent (platform/agent_window.h), which may end the process.
#pragma once

namespace platform {

int RunMainLoop();

}  // namespace platform
