// The console host: the agent under a console window, with its title and
// colours, the tray, the message boxes that answer the agent's operator port,
// the main loop and the orderly shutdown.
#pragma once

// Runs the agent and returns its exit code.
int RunAgent();
