// The agent itself: the OPC session, the bridge of the API's requests, the
// HTTP listener and the periodic workers, wired from the settings and the data
// folder it is built from. It reads no process-wide record and speaks outward
// only through what its host hands it: the environment, the log and the
// operator port.
// The host owns everything a person sees (console, boxes, tray, main loop).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/settings.h"
#include "common/log.h"
#include "platform/env.h"

// The operator as the agent reaches them. Called from the agent's workers;
// an answer may take as long as the person does, so the agent calls it
// without holding the session lock.
class OperatorPort {
 public:
  virtual ~OperatorPort() = default;
  // Tells the operator of something they must see ("tags file isn't exists").
  virtual void Notify(const std::string& text) = 0;
  // Asks a yes/no question; true on yes.
  virtual bool Ask(const std::string& question) = 0;
};

class Agent {
 public:
  // env, operatorPort and log must outlive the agent; dataFolder holds
  // the tags file, the item store, the spool folder temp and, on Linux, the
  // simulation's files. The log (none: nullptr) is the one the console lines
  // pass through: the agent ticks it once a second, so that a minute of
  // repeats is told, and flushes it when it stops.
  Agent(const AgentSettings& settings, std::string dataFolder, platform::Env* env,
        OperatorPort* operatorPort, Log* log = nullptr);
  ~Agent();
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Prepares the spool, runs the connection stage on the calling thread (in
  // the process's OPC apartment) and starts the workers and, once connected
  // with a group, the HTTP listener and the sampler. False when the agent
  // must end now with exit code 0: no OPC server found, or none with the
  // configured ProgID. Called once.
  bool Start();

  // How long an orderly stop waits for the workers. The whole stop, from the
  // request to the end of the process, stays under 10 s even while a call to
  // the server does not return: the hidden window's close takes about 2 s to
  // reach the loop and the process to end under Wine.
  static constexpr int64_t kOrderlyStopBoundMs = 5000;

  // Stops the workers, waiting for them at most boundMs, and lets go of the
  // server. False when a worker is still in its task at the bound (a call to
  // the server that does not return); the host then ends the process without
  // waiting for it.
  bool Stop(int64_t boundMs = kOrderlyStopBoundMs);

  // The status report the API answers, as JSON; after Start. The HTTP
  // listener, once started, serves until the process ends and asks the agent
  // for this report, so a host ends the process soon after the agent.
  std::string StatusJson(int activeConnections) const;

 private:
  struct Wiring;
  const AgentSettings settings_;
  const std::string dataFolder_;
  platform::Env* const env_;
  OperatorPort* const operatorPort_;
  Log* const log_;
  const int64_t startedMs_;
  std::unique_ptr<Wiring> wiring_;
};
