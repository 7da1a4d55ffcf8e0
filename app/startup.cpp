#include "app/startup.h"

#include <memory>
#include <string>

#include "app/agent.h"
#include "app/console_window.h"
#include "app/process_paths.h"
#include "app/service_operator_port.h"
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
#include "platform/supervisor.h"

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

// The title and copyright, then how this host is stopped.
void PrintBanner(int64_t startMilliseconds, const std::string& howToStop) {
  PrintText(std::string("--------* ") + kAgentTitle + " *--------\n" +
            "Talvero OPC DA client agent, (c) Talvero " + FormatLocalTime(startMilliseconds, "%Y"));
  PrintText(howToStop);
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

// The start every host shares: the process made ready for the agent's
// threads and the executable's paths known.
void PrepareProcess() {
  platform::PrepareProcessSignals();
  platform::RaiseDescriptorLimit();
  SetProcessPaths(platform::ModulePath(), &processPaths);
}

// What the agent is made from, once the data folder is this agent's.
struct AgentGround {
  std::unique_ptr<platform::FileLock> folderLock;  // held until the process ends
  AgentSettings settings;
  TextList settingsWarnings;
  Log* log = nullptr;  // never destroyed: workers print through it until the process ends
};

// Claims the data folder, reads the settings and sets up the process's log,
// its file on when the settings ask or the host always wants one. False when
// another agent holds the folder.
bool PrepareAgentGround(platform::Env* env, bool logFileAlways, AgentGround* ground) {
  if (!ClaimDataFolder(env, &ground->folderLock)) return false;
  LoadSettings(processPaths.configPath, &ground->settings, &ground->settingsWarnings);
  LogFileSettings file = LogFileSettingsOf(ground->settings, DataFilePath("log"));
  if (logFileAlways) file.enabled = true;
  ground->log = new Log(env, file);
  SetProcessLog(ground->log);
  return true;
}

std::string AgentDataFolder() {
  return processPaths.baseDirectory + platform::kPathSeparator + "data";
}

// Starts the agent in the process's OPC apartment; false when it must end.
bool StartInApartment(Agent* agent) {
  if (!platform::EnterProcessApartment()) {
    PrintText("\nInit failed.");
    return false;
  }
  return agent->Start();
}

// Stops the agent and returns the exit code; a worker stuck in a call to the
// server is not waited for.
int StopAgent(Agent* agent, int exitCode) {
  if (!agent->Stop()) platform::ExitAgent();
  return exitCode;
}

}  // namespace

int RunAgent() {
  platform::Env* const env = platform::Env::Default();
  PrepareProcess();

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
  AgentGround ground;
  if (!PrepareAgentGround(env, false, &ground)) return 1;
  platform::LoadAgentIcon(DataFilePath("logo.ico"));
  InstallAgentShellCallbacks();
  if (!platform::RegisterAgentWindowClass(kAgentTitle)) {
    platform::ShowMessageBox("This program requires Windows NT!", "TALVERO",
                             platform::kMbIconStop | platform::kMbSystemModal);
    return 0;
  }
  SetAutorun(ground.settings.isautorun == 1);

  ConsoleOperatorPort operatorPort;
  Agent agent(ground.settings, AgentDataFolder(), env, &operatorPort, ground.log);
  PrintBanner(startMilliseconds, "\nPress Ctrl+C to exit from the system.\n");
  for (const std::string& warning : ground.settingsWarnings) PrintErrorLine(env, warning, false);

  if (!StartInApartment(&agent)) return 0;
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
  return StopAgent(&agent, exitCode);
}

int RunAgentAsService() {
  platform::Env* const env = platform::Env::Default();
  PrepareProcess();
  // The supervisor keeps what is printed: no colours, no title, no questions.
  // The instance lock is the console's (it brings the other console back);
  // the data folder's lock keeps two agents off the same data.
  platform::ConsoleUsePlainText();
  const int64_t startMilliseconds = NowMilliseconds();

  if (!platform::PathExists(processPaths.configPath)) {
    // Nothing here mends itself: the supervisor is told not to restart.
    PrintErrorLine(env, "\nThe service ends: " + processPaths.configPath + " does not exist.",
                   true);
    PrintText(env, "\n");
    return kServiceExitNoConfig;
  }
  AgentGround ground;
  if (!PrepareAgentGround(env, true, &ground)) return kServiceExitFailed;

  ServiceOperatorPort operatorPort(env);
  Agent agent(ground.settings, AgentDataFolder(), env, &operatorPort, ground.log);
  PrintBanner(startMilliseconds, "\nRunning as a service; the log is " + ground.log->FilePath() +
                                     ", SIGTERM stops it.");
  for (const std::string& warning : ground.settingsWarnings) PrintErrorLine(env, warning, false);

  // A server not found may come later: the supervisor starts the agent again.
  if (!StartInApartment(&agent)) {
    ground.log->Flush();
    return kServiceExitFailed;
  }
  platform::WaitForSupervisorStop();
  PrintText(env, "\nStop requested: the agent stops.");
  int exitCode = StopAgent(&agent, 0);
  PrintText(env, "\nThe agent has stopped.\n");
  ground.log->Flush();
  return exitCode;
}
