#include <signal.h>

#include "platform/supervisor.h"

namespace platform {

bool SupervisedRunSupported() { return true; }

void WaitForSupervisorStop() {
  // PrepareProcessSignals blocked these in every thread, so they wait here.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  int received = 0;
  while (sigwait(&set, &received) != 0) {
  }
}

}  // namespace platform
