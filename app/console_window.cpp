#include "app/console_window.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "app/process_paths.h"
#include "common/console_output.h"
#include "common/text_helpers.h"
#include "platform/agent_window.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/profile.h"
#include "platform/thread.h"

namespace {

constexpr char kRunEntrySuffix[] = " -h";
constexpr char kAutoValue[] = "auto";

// True when the start entry of scope runs modulePath.
bool RunEntryStarts(platform::AutorunStore* store, platform::RunScope scope,
                    const std::string& modulePath) {
  std::string program;
  std::string arguments;
  return store->ReadRunEntry(scope, &program, &arguments) && program == modulePath;
}

// Guards exitRelease. An exit takes it and keeps it until the process ends,
// so a second exit, or the host clearing the release, waits for the first.
std::mutex exitLock;
ExitRelease exitRelease;

// Lets the agent go within the exit's bound, then ends the process with exit
// code 0. A release that does not return in time (a call to a server that
// hangs) is left behind: the process ends without it.
[[noreturn]] void ReleaseAndExit() {
  exitLock.lock();  // kept: the process ends with it held
  if (exitRelease) {
    const ExitRelease release = exitRelease;
    RunWithinBound([release] { release(kExitWorkersBoundMs); }, kExitBoundMs,
                   platform::Env::Default());
  }
  platform::ExitAgent();
}

}  // namespace

void SetExitRelease(ExitRelease release) {
  std::lock_guard<std::mutex> hold(exitLock);
  exitRelease = std::move(release);
}

bool RunWithinBound(std::function<void()> task, int64_t boundMs, platform::Env* env) {
  // Shared with the task's thread, which may outlive this call.
  struct Outcome {
    std::mutex lock;  // guards ended
    std::condition_variable changed;
    bool ended = false;
  };
  auto outcome = std::make_shared<Outcome>();
  const int64_t deadline = env->MonotonicNanoseconds() + boundMs * 1000 * 1000;
  const bool started = platform::StartDetachedThread([task, outcome] {
    task();
    std::lock_guard<std::mutex> hold(outcome->lock);
    outcome->ended = true;
    outcome->changed.notify_all();
  });
  if (!started) return false;
  std::unique_lock<std::mutex> hold(outcome->lock);
  // Waited for in short steps and measured on env's clock, which the
  // condition variable's own clock is not.
  while (!outcome->ended && env->MonotonicNanoseconds() < deadline) {
    outcome->changed.wait_for(hold, std::chrono::milliseconds(20));
  }
  return outcome->ended;
}

std::string AboutText(int64_t nowMilliseconds) {
  return std::string(kAgentTitle) + " Ver " + kAgentVersion + "\n" +
         "Talvero OPC DA client agent, (c) Talvero " + FormatLocalTime(nowMilliseconds, "%Y");
}

std::string ReadAgentValueFrom(platform::AutorunStore* store, const std::string& name) {
  std::string text;
  if (!store->ReadAgentValue(name, &text)) return std::string();
  return text;
}

std::string ReadAgentValue(const std::string& name) {
  return ReadAgentValueFrom(&platform::SystemAutorunStore(), name);
}

bool AutorunIsOn() { return ReadAgentValue(kAutoValue) == "1"; }

bool SetAutorunIn(platform::AutorunStore* store, bool on, const std::string& modulePath) {
  if (!on) {
    // Both places: an entry may stand in either from an earlier run. An entry
    // that stays (the machine's, written by an elevated run, seen by a normal
    // user) still starts the agent at logon, so the state shows on.
    bool machineGone = store->DeleteRunEntry(platform::RunScope::kMachine);
    bool userGone = store->DeleteRunEntry(platform::RunScope::kUser);
    if (!machineGone || !userGone) {
      PrintErrorLine("\nCould not remove the autorun entry; autorun stays on.", false);
      store->WriteAgentValue(kAutoValue, "1");
      return true;
    }
    store->WriteAgentValue(kAutoValue, "0");
    return false;
  }
  // Without the right to write the machine's entry the user's own entry still
  // starts the agent at this user's logon, which is what was asked for;
  // unless the machine's entry (written by an elevated run, quoted or in the
  // unquoted form of earlier versions) starts this agent already, and a
  // second entry would only start it twice.
  bool written = store->WriteRunEntry(platform::RunScope::kMachine, modulePath, kRunEntrySuffix) ||
                 RunEntryStarts(store, platform::RunScope::kMachine, modulePath) ||
                 store->WriteRunEntry(platform::RunScope::kUser, modulePath, kRunEntrySuffix);
  if (!written) {
    PrintErrorLine("\nCould not write the autorun entry; autorun stays off.", false);
  }
  // `auto` tells the truth, so the menu's check mark does too.
  store->WriteAgentValue(kAutoValue, written ? "1" : "0");
  return written;
}

bool SetAutorun(bool on) {
  return SetAutorunIn(&platform::SystemAutorunStore(), on, processPaths.modulePath);
}

void ToggleAutorun(platform::AutorunStore* store, const std::string& modulePath,
                   const std::string& configPath) {
  bool wasOn = ReadAgentValueFrom(store, kAutoValue) == "1";
  bool nowOn = SetAutorunIn(store, !wasOn, modulePath);
  if (!platform::PathExists(configPath)) {
    platform::ShowMessageBox("No config file?", kAgentTitle, platform::kMbIconStop);
    return;
  }
  platform::ProfileWriteText(configPath, "SERVER", "isautorun", nowOn ? "1" : "0");
}

void HandleAgentCommand(int commandId) {
  switch (commandId) {
    case ID_ABOUT:
      platform::ShowAgentWindowBox(AboutText(NowMilliseconds()), kAgentTitle,
                                   platform::kMbIconInformation | platform::kMbSystemModal);
      break;
    case ID_EXIT:
      if (platform::ShowMessageBox("Confirm to exit?", kAgentTitle,
                                   platform::kMbYesNo | platform::kMbIconQuestion |
                                       platform::kMbSystemModal) == platform::kIdYes) {
        PrintText("\n Exiting,please waiting...");
        platform::CloseAgentWindow();
        ReleaseAndExit();
      }
      break;
    case ID_AUTORUN:
      ToggleAutorun(&platform::SystemAutorunStore(), processPaths.modulePath,
                    processPaths.configPath);
      break;
    default:
      break;
  }
}

void HandleConsoleEvent() {
  if (!platform::OperatorCanAnswer()) ReleaseAndExit();
  if (platform::ShowMessageBox("Confirm exit? ", kAgentTitle,
                               platform::kMbYesNo | platform::kMbIconQuestion |
                                   platform::kMbSystemModal) == platform::kIdYes) {
    ReleaseAndExit();
  }
}

void InstallAgentShellCallbacks() {
  platform::AgentShellCallbacks callbacks;
  callbacks.onCommand = HandleAgentCommand;
  callbacks.autorunIsOn = AutorunIsOn;
  callbacks.onConsoleEvent = HandleConsoleEvent;
  platform::SetAgentShellCallbacks(callbacks);
}
