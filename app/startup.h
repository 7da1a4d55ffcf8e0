// The agent's entry point: startup, main loop and orderly shutdown.
#pragma once

// Runs the agent and returns its exit code.
int RunAgent();
