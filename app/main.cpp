#include <string>

#include "app/startup.h"
#include "platform/supervisor.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--service" && platform::SupervisedRunSupported())
    return RunAgentAsService();
  return RunAgent();
}
