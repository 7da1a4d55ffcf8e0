// Test support: an environment that keeps what is printed on its console
// instead of writing it out, and forwards every other call. Used by the tests
// of every subsystem that prints; header only, so production code never
// links it by accident.
#pragma once

#include <mutex>
#include <string>

#include "platform/env.h"

namespace platform {

class RecordingConsoleEnv : public EnvWrapper {
 public:
  explicit RecordingConsoleEnv(Env* target = Env::Default()) : EnvWrapper(target) {}

  void ConsoleWrite(const std::string& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    printed_ += text;
  }
  void ConsoleWriteColoured(uint16_t, const std::string& text) override {
    std::lock_guard<std::mutex> hold(mutex_);
    printed_ += text;
  }

  // Everything printed so far, in order, colours left out.
  std::string Printed() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return printed_;
  }

 private:
  mutable std::mutex mutex_;  // guards printed_: workers print from their own threads
  std::string printed_;
};

}  // namespace platform
