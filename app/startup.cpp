#include "app/startup.h"

#include <memory>
#include <string>

#include "app/agent.h"
#include "app/console_window.h"
#include "app/process_paths.h"
#include "app/settings.h"
#include "common/console_output.h"
#include "common/log.h"
#include "common/text_helpers.h"
#include "platform/agent_window.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/folder_lock.h"
#include "platform/main_loop.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/sockets.h"

namespace {

// The console's operator: today's message boxes, shown on the thread that
// asks and waited for there.
class ConsoleOperatorPort : public OperatorPort {
 public:
  void Notify(const std::string& text) override {
    platform::ShowMessageBox(text, "TALVERO", platform::kMbIconStop);
  }
  bool Ask(const std::string& question) override {
    return platform::ShowMessageBox(question, kAgentTitle,
                                    platform::kMbYesNo | platform::kMbIconQuestion |
                                        platform::kMbSystemModal) == platform::kIdYes;
  }
};

void PrintBanner(int64_t startMilliseconds) {
  PrintText(std::string("--------* ") + kAgentTitle + " *--------\n" +
            "Talvero OPC DA client agent, (c) Talvero " + FormatLocalTime(startMilliseconds, "%Y"));
  PrintText("\nPress Ctrl+C to exit from the system.\n");
}

// Claims the data folder for this agent through a lock on data/agent.lock,
// held in *lock until the agent ends. The instance lock stops a second agent
// of the same session only; this one stops every other agent on the folder
// (another session, a service), which would post every sample twice. False
// when another agent holds it. A folder that cannot be locked at all is told
// and the agent runs on: refusing would stop the only agent as well.
bool ClaimDataFolder(platform::Env* env, std::unique_ptr<platform::FileLock>* lock) {
  const std::string path = DataFilePath("agent.lock");
  platform::FileLockOutcome outcome = platform::FileLockOutcome::kUnavailable;
  std::string cause;
  *lock = platform::TryLockFile(path, &outcome, &cause);
  if (outcome == platform::FileLockOutcome::kTaken) {
    PrintErrorLine(env, "\nAnother agent uses this data folder (" + path + "); this one ends.",
                   true);
    return false;
  }
  if (outcome == platform::FileLockOutcome::kUnavailable) {
    PrintErrorLine(env,
                   "\nCould not lock " + path + " (" + cause +
                       "); a second agent on this data folder would not be refused.",
                   false);
  }
  return true;
}

}  // namespace

int RunAgent() {
  platform::Env* const env = platform::Env::Default();
  platform::PrepareProcessSignals();
  platform::RaiseDescriptorLimit();
  SetProcessPaths(platform::ModulePath(), &processPaths);

  if (!platform::AcquireInstanceLock(processPaths.instanceName)) {
    // Another agent runs: bring its console back to the operator, silently.
    platform::RestoreOtherAgentConsole(processPaths.instanceName);
    return 0;
  }

  platform::ConsoleUseNormalColours();
  platform::ConsoleSetTitle(processPaths.instanceName);
  const int64_t startMilliseconds = NowMilliseconds();

  if (!platform::PathExists(processPaths.configPath)) {
    platform::ShowMessageBox("config file isn't exists", kAgentTitle,
                             platform::kMbIconStop | platform::kMbSystemModal);
    return 0;
  }
  std::unique_ptr<platform::FileLock> folderLock;
  if (!ClaimDataFolder(env, &folderLock)) return 1;
  AgentSettings settings;
  TextList settingsWarnings;
  LoadSettings(processPaths.configPath, &settings, &settingsWarnings);
  // Never destroyed: workers print through it until the process ends.
  Log* const log = new Log(env, LogFileSettingsOf(settings, DataFilePath("log")));
  SetProcessLog(log);
  platform::LoadAgentIcon(DataFilePath("logo.ico"));
  InstallAgentShellCallbacks();
  if (!platform::RegisterAgentWindowClass(kAgentTitle)) {
    platform::ShowMessageBox("This program requires Windows NT!", "TALVERO",
                             platform::kMbIconStop | platform::kMbSystemModal);
    return 0;
  }
  SetAutorun(settings.isautorun == 1);

  ConsoleOperatorPort operatorPort;
  Agent agent(settings, processPaths.baseDirectory + platform::kPathSeparator + "data", env,
              &operatorPort, log);
  PrintBanner(startMilliseconds);
  for (const std::string& warning : settingsWarnings) PrintErrorLine(env, warning, false);

  if (!platform::EnterProcessApartment()) {
    PrintText("\nInit failed.");
    return 0;
  }
  if (!agent.Start()) return 0;
  SetExitRelease([&agent](int64_t boundMs) { agent.Stop(boundMs); });

  // The console, the hidden window and the tray.
  if (!platform::PrepareAgentConsole())
    platform::ConsoleWriteError("Could not set control handler");
  platform::CreateAgentWindow(kAgentTitle);
  platform::InstallCloseClickHook();

  int exitCode = platform::RunMainLoop();

  platform::RemoveCloseClickHook();
  platform::RemoveTrayIcon();

  SetExitRelease(nullptr);
  if (!agent.Stop()) platform::ExitAgent();
  return exitCode;
}
