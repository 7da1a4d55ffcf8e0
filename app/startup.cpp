#include "app/startup.h"

#include <memory>

#include "app/connection_stage.h"
#include "common/console_output.h"
#include "app/console_window.h"
#include "app/periodic_worker.h"
#include "app/settings.h"
#include "bridge/opc_operations.h"
#include "bridge/request_bridge.h"
#include "common/process_paths.h"
#include "common/text_helpers.h"
#include "forward/sampler.h"
#include "forward/spool_watch.h"
#include "forward/uploader.h"
#include "http/http_server.h"
#include "opc/connection_supervisor.h"
#include "opc/opc_session.h"
#include "opc/tag_operations.h"
#include "platform/agent_window.h"
#include "platform/console.h"
#include "platform/file_system.h"
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
};

// The sampler's and the uploader's parts, handed in by the agent and kept
// alive while their workers run.
struct Forwarding {
  SamplerContext sampling;
  SamplerState samplerState;
  UploaderContext uploading;
  UploaderState uploaderState;
  // Tells the operator of a growing backlog and a filling disk; checked after
  // each upload tick, on the uploader's thread.
  std::unique_ptr<SpoolWatch> spoolWatch;
};

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
  return handed;
}

void PrintBanner(int64_t startMilliseconds) {
  PrintText(std::string("--------* ") + kAgentTitle + " *--------\n" +
            "Talvero OPC DA client agent, (c) Talvero " + FormatLocalTime(startMilliseconds, "%Y"));
  PrintText("\nPress Ctrl+C to exit from the system.\n");
}

// Every worker is asked at once, so their last sleeps run out side by side;
// then each is awaited in the order the shutdown gives.
void StopWorkers(AgentWorkers* workers) {
  workers->supervisor.RequestStop();
  workers->sampler.RequestStop();
  workers->uploader.RequestStop();
  workers->opcWorker.RequestStop();
  workers->supervisor.Stop();
  workers->sampler.Stop();
  workers->uploader.Stop();
  workers->opcWorker.Stop();
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
  LoadSettings(processPaths.configPath, &agentSettings);
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
  if (!RunConnectionStage(&groupReady)) return 0;

  // The bridge of the API's requests to the OPC worker. Never destroyed:
  // connection threads may still wait on it when the process ends.
  RequestBridge* bridge = new RequestBridge(OpcSessionOperations(opcSession));

  if (groupReady) {
    HttpSettings http;
    http.port = agentSettings.port;
    http.versionText = kAgentVersion;
    http.accessKey = agentSettings.key;
    http.allowList = agentSettings.allowip;
    if (!platform::StartDetachedThread([http, bridge, env] {
          ServeHttpApi(
              http,
              [bridge](BridgeRequest request) { return bridge->SubmitAndWait(std::move(request)); },
              env);
        })) {
      PrintErrorLine("\nFailed to start http server!", false);
    }
    forwarding.sampling.env = env;
    forwarding.sampling.session = opcSession;
    forwarding.sampling.read = [](int32_t count, TextList names) {
      return ReadChangedItems(*opcSession, count, std::move(names));
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
    StartWorker(
        &workers.sampler, "sampler", agentSettings.sampleIntervalMs,
        [&forwarding] { SampleTickWith(forwarding.sampling, &forwarding.samplerState); }, env);
    StartWorker(
        &workers.uploader, "uploader", agentSettings.sampleIntervalMs,
        [&forwarding] {
          UploadTickWith(forwarding.uploading, &forwarding.uploaderState);
          forwarding.spoolWatch->Check();
        },
        env);
    // The serving threads of a connected agent: HTTP listener, sampler, uploader.
  }

  // The workers that run whether or not the first connection succeeded.
  StartWorker(&workers.opcWorker, "OPC worker", 1, [bridge] { bridge->OpcWorkerTick(); }, env);
  StartWorker(
      &workers.supervisor, "connection supervisor", 1000,
      [&supervisor] {
        // Shown without the session lock: the OPC worker and the sampler go
        // on while the box waits for the operator.
        if (supervisor.Tick(*opcSession)) {
          platform::ShowMessageBox("tags file isn't exists", "TALVERO", platform::kMbIconStop);
        }
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

  StopWorkers(&workers);
  delete opcSession;
  opcSession = nullptr;
  return exitCode;
}
