// Process-level services of the agent's main thread.
#pragma once

#include <string>

namespace platform {

// Takes the single-instance lock named name for the life of the process.
// False when another process holds it already. Windows: a named mutex;
// POSIX: flock on $XDG_RUNTIME_DIR/<name>.lock (else /tmp/<name>-<uid>.lock).
bool AcquireInstanceLock(const std::string& name);

// Enters the multithreaded COM apartment on the calling thread (Windows);
// nothing to do on POSIX. False on failure.
bool EnterProcessApartment();

// Sets up the process before any other thread starts: on POSIX blocks the
// termination signals in every thread so that WaitForShutdownRequest takes them.
void PrepareProcessSignals();

}  // namespace platform
