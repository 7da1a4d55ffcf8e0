#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/agent_window.h"
#include "platform/main_loop.h"
#include "platform/process.h"

namespace platform {

bool AcquireInstanceLock(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = (runtime != nullptr && *runtime != '\0')
                         ? std::string(runtime) + "/" + name + ".lock"
                         : "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
  // The descriptor stays open, and the lock held, for the life of the process.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: do not refuse to run
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool EnterProcessApartment() { return true; }

namespace {
sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

void PrepareProcessSignals() {
  sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int RunMainLoop() {
  sigset_t set = TerminationSignals();
  for (;;) {
    int received = 0;
    if (sigwait(&set, &received) != 0) continue;
    // SIGTERM asks for the orderly shutdown. SIGINT and SIGHUP are the
    // terminal's Ctrl+C and close: confirmed with the operator when possible;
    // the callback returns only when the agent goes on.
    if (received == SIGTERM) return 0;
    if (received == SIGINT || received == SIGHUP) DeliverConsoleEvent();
  }
}

}  // namespace platform
