// Running under a supervisor that starts the agent in the foreground and asks
// it to stop with a signal: systemd's "talvero-agent --service" on Linux.
// Windows has the service control manager instead, which does not go through
// here.
#pragma once

namespace platform {

// Whether this build runs as a supervised foreground service.
bool SupervisedRunSupported();

// Waits until the supervisor (or whoever runs it by hand) asks the process to
// stop. POSIX: SIGTERM, SIGINT or SIGHUP, each an orderly stop at once, since
// there is no one to confirm with. Only where SupervisedRunSupported().
void WaitForSupervisorStop();

}  // namespace platform
