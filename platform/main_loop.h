// The main thread's loop after startup.
//
// Windows: the window message loop of the main thread; returns the code of
// WM_QUIT. POSIX: waits for a termination signal (SIGTERM, SIGINT, SIGHUP) and
// returns 0 for the orderly shutdown.
#pragma once

namespace platform {

int RunMainLoop();

}  // namespace platform
