#include "app/startup.h"

#include <memory>
#include <mutex>
#include <string>

#include "app/agent_status.h"
#include "app/connection_stage.h"
#include "app/console_window.h"
#include "app/periodic_worker.h"
#include "app/process_paths.h"
#include "app/settings.h"
#include "bridge/opc_operations.h"
#include "bridge/request_bridge.h"
#include "common/console_output.h"
#include "common/log.h"
#include "common/text_helpers.h"
#include "forward/sampler.h"
#include "forward/spool_watch.h"
#include "forward/uploader.h"
#include "http/http_server.h"
#include "opc/connection_supervisor.h"
#include "opc/opc_session.h"
#include "opc/tag_operations.h"
#include "platform/agent_window.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/folder_lock.h"
#include "platform/main_loop.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "platform/thread.h"

namespace {

// The four workers of the agent, constructed idle in this order and destroyed
// in the reverse order when RunAgent returns.
struct AgentWorkers {
  PeriodicWorker supervisor;
  PeriodicWorker sampler;
  PeriodicWorker uploader;
  PeriodicWorker opcWorker;
  // Tells the operator of a call to the OPC server that does not return.
  // Never takes the session lock, which the hung call's thread holds.
  PeriodicWorker callWatch;
  // Judges the spool's backlog and free space on a pace of its own, so a post
  // that hangs does not silence it.
  PeriodicWorker spoolWatch;
};

// When uploads were last accepted and refused, for the status report.
class UploadLog {
 public:
  void Record(const UploadSummary& summary, int64_t nowMs) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (summary.accepted > 0) lastAcceptedMs_ = nowMs;
    if (!summary.failure.empty()) {
      lastFailedMs_ = nowMs;
      lastFailure_ = summary.failure;
    }
  }
  void CopyTo(AgentStatus* status) const {
    std::lock_guard<std::mutex> hold(mutex_);
    status->lastAcceptedMs = lastAcceptedMs_;
    status->lastFailedMs = lastFailedMs_;
    status->lastFailure = lastFailure_;
  }

 private:
  // Guards the three fields: the uploader writes, connection threads read.
  mutable std::mutex mutex_;
  int64_t lastAcceptedMs_ = 0;
  int64_t lastFailedMs_ = 0;
  std::string lastFailure_;
};

// The sampler's and the uploader's parts, handed in by the agent and kept
// alive while their workers run.
struct Forwarding {
  SamplerContext sampling;
  SamplerState samplerState;
  UploaderContext uploading;
  UploaderState uploaderState;
  // Tells the operator of a growing backlog and a filling disk; checked by a
  // worker of its own, so a post that hangs does not silence it.
  std::unique_ptr<SpoolWatch> spoolWatch;
  UploadLog uploadLog;
};

// True when the session is connected and its group was created.
bool HasConnectionAndGroup(OpcSession& session) {
  std::lock_guard<std::mutex> hold(session.lock);
  return session.connected == 1 && session.itemMgt != nullptr;
}

// The fields of the settings record that the OPC client works with.
OpcSettings OpcSettingsOf(const AgentSettings& settings) {
  OpcSettings handed;
  handed.domain = settings.domain;
  handed.host = settings.host;
  handed.user = settings.user;
  handed.pass = settings.pass;
  handed.isremote = settings.isremote;
  handed.progid = settings.progid;
  handed.group = settings.group;
  handed.item = settings.item;
  handed.autoitems = settings.autoitems;
  handed.itemstartsList = settings.itemstartsList;
  handed.itemscf = settings.itemscf;
  handed.records.timebias = settings.timebias;
  handed.records.quality = settings.quality;
  return handed;
}

void PrintBanner(int64_t startMilliseconds) {
  PrintText(std::string("--------* ") + kAgentTitle + " *--------\n" +
            "Talvero OPC DA client agent, (c) Talvero " + FormatLocalTime(startMilliseconds, "%Y"));
  PrintText("\nPress Ctrl+C to exit from the system.\n");
}

// Runs the call watch once a second from the start of the connection stage.
void StartCallWatch(PeriodicWorker* worker, platform::Env* env) {
  const int64_t thresholdMs = CallWatchThresholdMs(agentSettings.sampleIntervalMs);
  StartWorker(
      worker, "OPC call watch", 1000,
      [env, thresholdMs] {
        opcSession->calls.Report(env, thresholdMs);
        TickProcessLog();
      },
      env);
}

// How long a stop waits for the workers. The whole stop, from the request to
// the end of the process, stays under 10 s even while a call to the server
// does not return: the hidden window's close takes about 2 s to reach the
// loop and the process to end under Wine.
constexpr int64_t kStopBoundNs = 5LL * 1000 * 1000 * 1000;

// Stops the workers and lets go of the server. False when a worker is still
// in its task at the bound; the caller then ends the process without waiting
// for it. The server is released whenever its lock is free, and that lock is
// then kept, so that no worker left running reaches the released session. A
// call to the server that has not returned holds the lock: the server is not
// released, and the operator is told. Spool files are written whole or not at
// all, so ending amid a sample loses none.
bool StopWithinBound(AgentWorkers* workers) {
  const int64_t deadline = platform::MonotonicNanoseconds() + kStopBoundNs;
  const bool ended =
      StopWorkersBefore({&workers->supervisor, &workers->sampler, &workers->uploader,
                         &workers->opcWorker, &workers->callWatch, &workers->spoolWatch},
                        deadline);
  if (!opcSession->lock.try_lock()) {
    const std::string call = opcSession->calls.Running();
    const std::string held = call.empty()
                                 ? "it is still in use"
                                 : "OPC call " + call + " has not returned after " +
                                       std::to_string(opcSession->calls.StalledMs() / 1000) + " s";
    PrintErrorLine("\nStopping without releasing the OPC server: " + held, true);
    return false;
  }
  ReleaseServer(*opcSession);
  if (ended) opcSession->lock.unlock();
  return ended;
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
  TextList settingsWarnings;
  LoadSettings(processPaths.configPath, &agentSettings, &settingsWarnings);
  // Never destroyed: workers print through it until the process ends.
  SetProcessLog(new Log(env, LogFileSettingsOf(agentSettings, DataFilePath("log"))));
  const std::string spoolFolder = DataFilePath("temp");
  env->MakeDirectory(spoolFolder);
  // A write cut short by a crash leaves only its temporary, never a partial
  // spool file. Its values are read again: every item starts unread.
  RemoveSpoolTemporaries(env, spoolFolder);
  platform::LoadAgentIcon(DataFilePath("logo.ico"));
  InstallAgentShellCallbacks();
  if (!platform::RegisterAgentWindowClass(kAgentTitle)) {
    platform::ShowMessageBox("This program requires Windows NT!", "TALVERO",
                             platform::kMbIconStop | platform::kMbSystemModal);
    return 0;
  }
  SetAutorun(agentSettings.isautorun == 1);

  // Declared before the workers, so they outlive the ones that tick them.
  ConnectionSupervisor supervisor;
  Forwarding forwarding;
  AgentWorkers workers;
  PrintBanner(startMilliseconds);
  for (const std::string& warning : settingsWarnings) PrintErrorLine(env, warning, false);

  if (!platform::EnterProcessApartment()) {
    PrintText("\nInit failed.");
    return 0;
  }

  // The connection stage: discovery, connection, tags file, group. It sets
  // groupReady when the first connection and the group succeeded.
  bool groupReady = false;
  // The connector is never destroyed: an immediate exit ends the process
  // while workers may still be calling through it.
  opcSession = new OpcSession;
  opcSession->connector = opc::CreatePlatformConnector(processPaths.baseDirectory).release();
  opcSession->env = env;
  opcSession->settings = OpcSettingsOf(agentSettings);
  opcSession->dataFolder = processPaths.baseDirectory + platform::kPathSeparator + "data";
  StartCallWatch(&workers.callWatch, env);
  if (!RunConnectionStage(&groupReady)) return 0;

  // The bridge of the API's requests to the OPC worker. Never destroyed:
  // connection threads may still wait on it when the process ends.
  RequestBridge* bridge = new RequestBridge(OpcSessionOperations(opcSession));

  forwarding.sampling.env = env;
  forwarding.sampling.session = opcSession;
  forwarding.sampling.read = [](int32_t count, std::vector<ItemValue>* values) {
    return ReadItemValues(*opcSession, count, values);
  };
  forwarding.sampling.folder = spoolFolder;
  forwarding.sampling.showread = agentSettings.showread;
  forwarding.sampling.stopRequested = [&workers] { return workers.sampler.StopRequested(); };
  forwarding.uploading.env = env;
  forwarding.uploading.url = agentSettings.api_host;
  forwarding.uploading.folder = spoolFolder;
  forwarding.uploading.stopRequested = [&workers] { return workers.uploader.StopRequested(); };
  forwarding.spoolWatch = std::make_unique<SpoolWatch>(
      env, spoolFolder, agentSettings.sampleIntervalMs, !agentSettings.api_host.empty());

  HttpSettings http;
  http.port = agentSettings.port;
  http.versionText = kAgentVersion;
  http.accessKey = agentSettings.key;
  http.allowList = agentSettings.allowip;
  http.statusReport = [env, spoolFolder, startMilliseconds, &forwarding](int activeConnections) {
    AgentStatus status;
    status.version = kAgentVersion;
    status.startedMs = startMilliseconds;
    status.connected = opcSession->connected.load() == 1;
    status.progid = agentSettings.progid;
    status.lastReadMs = forwarding.samplerState.lastReadMs.load();
    status.readFailures = forwarding.samplerState.readFailures.load();
    status.stalledMs = opcSession->calls.StalledMs();
    status.itemsAdded = opcSession->itemsAdded.load();
    status.itemsFailed = opcSession->itemsFailed.load();
    SpoolCensus census = TakeSpoolCensus(env, spoolFolder);
    status.spoolFiles = census.files;
    status.spoolBytes = census.bytes;
    status.spoolOldest = census.oldestName;
    status.uploadHost = UrlWithoutSecrets(agentSettings.api_host);
    forwarding.uploadLog.CopyTo(&status);
    status.activeConnections = activeConnections;
    return AgentStatusJson(status);
  };

  // The serving threads of a connected agent, the HTTP listener and the
  // sampler, start once per run: at once when the first connection and its
  // group succeeded, else at the first supervisor tick that has them (a
  // server that was still starting when the agent was).
  bool servingStarted = false;  // main thread, then the supervisor's only
  auto startServing = [&servingStarted, &workers, &forwarding, http, bridge, env] {
    if (servingStarted) return;
    servingStarted = true;
    if (!platform::StartDetachedThread([http, bridge, env] {
          ServeHttpApi(
              http,
              [bridge](BridgeRequest request) { return bridge->SubmitAndWait(std::move(request)); },
              env);
        })) {
      PrintErrorLine(env, "\nFailed to start http server!", false);
    }
    StartWorker(
        &workers.sampler, "sampler", agentSettings.sampleIntervalMs,
        [&forwarding] { SampleTickWith(forwarding.sampling, &forwarding.samplerState); }, env);
  };
  if (groupReady) startServing();

  // The workers that run whether or not the first connection succeeded. The
  // uploader needs no OPC server: samples left by an earlier run go out
  // while the server is away.
  StartWorker(
      &workers.uploader, "uploader", agentSettings.sampleIntervalMs,
      [&forwarding, env] {
        UploadSummary summary = UploadTickWith(forwarding.uploading, &forwarding.uploaderState);
        forwarding.uploadLog.Record(summary, env->NowMilliseconds());
      },
      env);
  // Ticks every second, so a stop waits for it no longer; the watch keeps
  // its own pace of one look per sampling interval.
  StartWorker(
      &workers.spoolWatch, "spool watch", 1000,
      [&forwarding] { forwarding.spoolWatch->CheckIfDue(); }, env);
  StartWorker(
      &workers.opcWorker, "OPC worker", 1, [bridge] { bridge->OpcWorkerTick(); }, env);
  StartWorker(
      &workers.supervisor, "connection supervisor", 1000,
      [&supervisor, &startServing, &servingStarted] {
        // Shown without the session lock: the OPC worker and the sampler go
        // on while the box waits for the operator.
        if (supervisor.Tick(*opcSession)) {
          platform::ShowMessageBox("tags file isn't exists", "TALVERO", platform::kMbIconStop);
        }
        if (!servingStarted && HasConnectionAndGroup(*opcSession)) startServing();
      },
      env);

  // The console, the hidden window and the tray.
  if (!platform::PrepareAgentConsole())
    platform::ConsoleWriteError("Could not set control handler");
  platform::CreateAgentWindow(kAgentTitle);
  platform::InstallCloseClickHook();

  int exitCode = platform::RunMainLoop();

  platform::RemoveCloseClickHook();
  platform::RemoveTrayIcon();

  if (!StopWithinBound(&workers)) platform::ExitAgent();
  return exitCode;
}
