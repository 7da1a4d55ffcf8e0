#include "app/service_operator_port.h"

#include "common/console_output.h"

void ServiceOperatorPort::Notify(const std::string& text) {
  PrintErrorLine(console_, "\n" + text, false);
}

bool ServiceOperatorPort::Ask(const std::string& question) {
  // No means the agent leaves things as they are: the answer that needs no one.
  PrintErrorLine(console_, "\n" + question + " (no one to answer in a service: No)", false);
  return false;
}
