// The agent's hosts. The console host: the agent under a console window, with its title and
// colours, the tray, the message boxes that answer the agent's operator port,
// the main loop and the orderly shutdown.
#pragma once

// Runs the agent and returns its exit code.
int RunAgent();

// The service host: the agent under a supervisor (systemd) that starts it in
// the foreground with "--service" and stops it with SIGTERM. No colours, no
// questions (each is logged and answered No), the log file always on; a stop
// request stops the agent in order. Only where platform::SupervisedRunSupported().

// Exit codes of the service host beside 0 (stopped when asked): the config
// file is missing, which no restart mends; the agent could not start (no
// server found, a data folder in use), which a restart may.
constexpr int kServiceExitFailed = 1;
constexpr int kServiceExitNoConfig = 2;

// Runs the agent as a service and returns its exit code.
int RunAgentAsService();
