// The operator as a service reaches them: no one is there to see a box or
// answer a question, so each is written to the log and the safe answer taken.
// Nothing the agent's workers call through it waits on a person.
#pragma once

#include <string>

#include "app/agent.h"
#include "platform/env.h"

class ServiceOperatorPort : public OperatorPort {
 public:
  // console is where the lines are printed (through the process's log); it
  // must outlive the port.
  explicit ServiceOperatorPort(platform::Env* console) : console_(console) {}

  // One error line with the text.
  void Notify(const std::string& text) override;
  // One line with the question and the answer taken; always No.
  bool Ask(const std::string& question) override;

 private:
  platform::Env* const console_;
};
