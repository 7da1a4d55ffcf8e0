// The service's operator port: nothing waits on a person, every question is
// answered No, and what the operator would have seen is in the log's lines.
#include "app/service_operator_port.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"

namespace {

// Keeps every console write with whether it came coloured (an error line).
class ColourRecordingEnv : public platform::EnvWrapper {
 public:
  ColourRecordingEnv() : EnvWrapper(platform::Env::Default()) {}
  void ConsoleWrite(const std::string& text) override { printed += text; }
  void ConsoleWriteColoured(uint16_t, const std::string& text) override {
    printed += "{" + text + "}";
  }
  std::string printed;
};

TEST(ServiceOperatorPort, EveryQuestionIsLoggedAndAnsweredNo) {
  for (const std::string question : {"Confirm to exit?", "Reconnect now?", ""}) {
    ColourRecordingEnv env;
    ServiceOperatorPort port(&env);
    EXPECT_FALSE(port.Ask(question)) << question;
    EXPECT_EQ(env.printed, "{\n" + question + " (no one to answer in a service: No)}") << question;
  }
}

TEST(ServiceOperatorPort, ANoticeIsOneErrorLine) {
  ColourRecordingEnv env;
  ServiceOperatorPort port(&env);
  port.Notify("tags file isn't exists");
  port.Notify("second");
  EXPECT_EQ(env.printed, "{\ntags file isn't exists}{\nsecond}");
}

}  // namespace
