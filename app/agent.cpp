#include "app/agent.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/agent_status.h"
#include "app/connection_stage.h"
#include "app/periodic_worker.h"
#include "app/process_paths.h"
#include "bridge/opc_operations.h"
#include "bridge/request_bridge.h"
#include "common/console_output.h"
#include "forward/sampler.h"
#include "forward/spool_file.h"
#include "forward/spool_watch.h"
#include "forward/uploader.h"
#include "http/http_server.h"
#include "opc/connection_supervisor.h"
#include "opc/opc_session.h"
#include "opc/tag_operations.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/thread.h"

namespace {

// The four workers of the agent, constructed idle in this order and destroyed
// in the reverse order with the agent.
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

// Runs the call watch once a second from the start of the connection stage.
// It also ticks the log, which never takes the session lock either.
void StartCallWatch(PeriodicWorker* worker, OpcSession* session, int32_t sampleIntervalMs,
                    platform::Env* env, Log* log) {
  const int64_t thresholdMs = CallWatchThresholdMs(sampleIntervalMs);
  StartWorker(
      worker, "OPC call watch", 1000,
      [session, env, thresholdMs, log] {
        session->calls.Report(env, thresholdMs);
        if (log != nullptr) log->Tick();
      },
      env);
}

// Stops the workers, waiting for them at most boundMs, and lets go of the
// server. False when a worker is still in its task at the bound; the caller
// then ends the process without waiting for it. The server is released
// whenever its lock is free, and that lock is then kept, so that no worker
// left running reaches the released session. A call to the server that has
// not returned holds the lock: the server is not released, and the operator
// is told. Spool files are written whole or not at all, so ending amid a
// sample loses none.
bool StopWithinBound(AgentWorkers* workers, OpcSession* session, int64_t boundMs) {
  const int64_t deadline = platform::MonotonicNanoseconds() + boundMs * 1000 * 1000;
  const bool ended =
      StopWorkersBefore({&workers->supervisor, &workers->sampler, &workers->uploader,
                         &workers->opcWorker, &workers->callWatch, &workers->spoolWatch},
                        deadline);
  if (!session->lock.try_lock()) {
    const std::string call = session->calls.Running();
    const std::string held = call.empty()
                                 ? "it is still in use"
                                 : "OPC call " + call + " has not returned after " +
                                       std::to_string(session->calls.StalledMs() / 1000) + " s";
    PrintErrorLine(session->env, "\nStopping without releasing the OPC server: " + held, true);
    return false;
  }
  ReleaseServer(*session);
  if (ended) session->lock.unlock();
  return ended;
}

}  // namespace

// What the agent builds as it starts, kept while its workers run.
struct Agent::Wiring {
  // Declared before the workers, so they outlive the ones that tick them.
  ConnectionSupervisor supervisor;
  Forwarding forwarding;
  AgentWorkers workers;
  std::string spoolFolder;
  // The session, its connector and the bridge outlive the agent while
  // anything may still reach them: a worker left in a call that does not
  // return, or the HTTP listener's connection threads, which serve until the
  // process ends. The agent lets go of them only when neither can.
  OpcSession* session = nullptr;
  RequestBridge* bridge = nullptr;
  // Set once a stop has ended every worker and released the server.
  bool stopped = false;
  // Whether the HTTP listener and the sampler were started: the main thread,
  // then the supervisor's only.
  bool servingStarted = false;
};

Agent::Agent(const AgentSettings& settings, std::string dataFolder, platform::Env* env,
             OperatorPort* operatorPort, Log* log)
    : settings_(settings),
      dataFolder_(std::move(dataFolder)),
      env_(env),
      operatorPort_(operatorPort),
      log_(log),
      startedMs_(env->NowMilliseconds()),
      wiring_(new Wiring) {}

Agent::~Agent() {
  Wiring& wiring = *wiring_;
  if (wiring.session == nullptr) return;
  if (!wiring.stopped && !Stop()) return;  // a worker is still in its call
  if (wiring.servingStarted && settings_.port > 0) return;  // the listener may reach them
  delete wiring.bridge;
  delete wiring.session->connector;
  delete wiring.session;
}

bool Agent::Start() {
  Wiring& wiring = *wiring_;
  platform::Env* const env = env_;
  const AgentSettings& settings = settings_;
  wiring.spoolFolder = dataFolder_ + platform::kPathSeparator + "temp";
  const std::string& spoolFolder = wiring.spoolFolder;
  env->MakeDirectory(spoolFolder);
  // A write cut short by a crash leaves only its temporary, never a partial
  // spool file. Its values are read again: every item starts unread.
  RemoveSpoolTemporaries(env, spoolFolder);

  // The connection stage: discovery, connection, tags file, group. It sets
  // groupReady when the first connection and the group succeeded.
  bool groupReady = false;
  OpcSession* const session = new OpcSession;
  wiring.session = session;
  session->connector = opc::CreatePlatformConnector(platform::FolderOf(dataFolder_)).release();
  session->env = env;
  session->settings = OpcSettingsOf(settings);
  session->dataFolder = dataFolder_;
  StartCallWatch(&wiring.workers.callWatch, session, settings.sampleIntervalMs, env, log_);
  if (!RunConnectionStage(*session, &groupReady)) return false;

  // The bridge of the API's requests to the OPC worker.
  RequestBridge* const bridge = new RequestBridge(OpcSessionOperations(session));
  wiring.bridge = bridge;

  Forwarding& forwarding = wiring.forwarding;
  AgentWorkers& workers = wiring.workers;
  forwarding.sampling.env = env;
  forwarding.sampling.session = session;
  forwarding.sampling.read = [session](int32_t count, std::vector<ItemValue>* values) {
    return ReadItemValues(*session, count, values);
  };
  forwarding.sampling.folder = spoolFolder;
  forwarding.sampling.showread = settings.showread;
  forwarding.sampling.stopRequested = [&workers] { return workers.sampler.StopRequested(); };
  forwarding.uploading.env = env;
  forwarding.uploading.url = settings.api_host;
  forwarding.uploading.folder = spoolFolder;
  forwarding.uploading.stopRequested = [&workers] { return workers.uploader.StopRequested(); };
  forwarding.spoolWatch = std::make_unique<SpoolWatch>(env, spoolFolder, settings.sampleIntervalMs,
                                                       !settings.api_host.empty());

  HttpSettings http;
  http.port = settings.port;
  http.versionText = kAgentVersion;
  http.accessKey = settings.key;
  http.allowList = settings.allowip;
  http.statusReport = [this](int activeConnections) { return StatusJson(activeConnections); };

  // The serving threads of a connected agent, the HTTP listener and the
  // sampler, start once per run: at once when the first connection and its
  // group succeeded, else at the first supervisor tick that has them (a
  // server that was still starting when the agent was).
  auto startServing = [&wiring, &settings, http, bridge, env] {
    if (wiring.servingStarted) return;
    wiring.servingStarted = true;
    if (!platform::StartDetachedThread([http, bridge, env] {
          ServeHttpApi(
              http,
              [bridge](BridgeRequest request) { return bridge->SubmitAndWait(std::move(request)); },
              env);
        })) {
      PrintErrorLine(env, "\nFailed to start http server!", false);
    }
    Forwarding& forwarding = wiring.forwarding;
    StartWorker(
        &wiring.workers.sampler, "sampler", settings.sampleIntervalMs,
        [&forwarding] { SampleTickWith(forwarding.sampling, &forwarding.samplerState); }, env);
  };
  if (groupReady) startServing();

  // The workers that run whether or not the first connection succeeded. The
  // uploader needs no OPC server: samples left by an earlier run go out
  // while the server is away.
  StartWorker(
      &workers.uploader, "uploader", settings.sampleIntervalMs,
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
  OperatorPort* const operatorPort = operatorPort_;
  StartWorker(
      &workers.supervisor, "connection supervisor", 1000,
      [&wiring, session, operatorPort, startServing] {
        // Told without the session lock: the OPC worker and the sampler go
        // on while the operator reads it.
        if (wiring.supervisor.Tick(*session)) operatorPort->Notify("tags file isn't exists");
        if (!wiring.servingStarted && HasConnectionAndGroup(*session)) startServing();
      },
      env);
  return true;
}

bool Agent::Stop(int64_t boundMs) {
  const bool ended =
      wiring_->session == nullptr || StopWithinBound(&wiring_->workers, wiring_->session, boundMs);
  if (ended) wiring_->stopped = true;
  // The last repeats and line reach the file, even when the host must now
  // end the process without waiting for a hung call.
  if (log_ != nullptr) log_->Flush();
  return ended;
}

std::string Agent::StatusJson(int activeConnections) const {
  const Wiring& wiring = *wiring_;
  const OpcSession& session = *wiring.session;
  const Forwarding& forwarding = wiring.forwarding;
  AgentStatus status;
  status.version = kAgentVersion;
  status.startedMs = startedMs_;
  status.connected = session.connected.load() == 1;
  status.progid = settings_.progid;
  status.lastReadMs = forwarding.samplerState.lastReadMs.load();
  status.readFailures = forwarding.samplerState.readFailures.load();
  status.stalledMs = session.calls.StalledMs();
  status.itemsAdded = session.itemsAdded.load();
  status.itemsFailed = session.itemsFailed.load();
  SpoolCensus census = TakeSpoolCensus(env_, wiring.spoolFolder);
  status.spoolFiles = census.files;
  status.spoolBytes = census.bytes;
  status.spoolOldest = census.oldestName;
  status.uploadHost = UrlWithoutSecrets(settings_.api_host);
  forwarding.uploadLog.CopyTo(&status);
  status.activeConnections = activeConnections;
  return AgentStatusJson(status);
}
