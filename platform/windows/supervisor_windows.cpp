#include "platform/supervisor.h"

namespace platform {

// The Windows service is the service control manager's, not a supervised
// foreground process: "--service" means nothing here.
bool SupervisedRunSupported() { return false; }

void WaitForSupervisorStop() {}

}  // namespace platform
