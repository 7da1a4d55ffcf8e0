// The operator's handles on the running agent: the tray menu's commands
// (About, Autorun, Exit), the confirmation before a console exit, and the
// autorun entry kept in line with the settings.
//
// Everything here runs on the main thread except HandleConsoleEvent, which
// runs on the thread that delivers the console event. No lock is held while a
// message box is shown, so a box shown from here never blocks another thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/autorun_store.h"
#include "platform/env.h"

constexpr int ID_ABOUT = 3011;
constexpr int ID_EXIT = 3012;
constexpr int ID_AUTORUN = 3013;

// "TALVERO AGENT Ver 1.0", a line break and the maker's notice, which ends
// with the year of nowMilliseconds.
std::string AboutText(int64_t nowMilliseconds);

// The text value name of the agent's own store; empty when it cannot be read.
std::string ReadAgentValue(const std::string& name);
std::string ReadAgentValueFrom(platform::AutorunStore* store, const std::string& name);

// Autorun counts as on when the stored `auto` reads exactly "1".
bool AutorunIsOn();

// Brings the start entry in line with on. On: the entry is written for the
// whole machine and, when that is refused and the machine's entry does not
// start modulePath already, for the current user; `auto`
// becomes "1" only when one of them was written, and a line is printed when
// neither was. Off: the entry is removed from both places and `auto` becomes
// "0". Returns the state autorun is really in afterwards.
bool SetAutorun(bool on);
bool SetAutorunIn(platform::AutorunStore* store, bool on, const std::string& modulePath);

// The Autorun command: flips autorun and writes the new state as `isautorun`
// into the settings file at configPath (or shows "No config file?" when the
// file is missing). The running agent's settings stay as they are.
void ToggleAutorun(platform::AutorunStore* store, const std::string& modulePath,
                   const std::string& configPath);

// Runs one tray menu command.
void HandleAgentCommand(int commandId);

// A console control event: asks "Confirm exit? " and ends the agent on Yes;
// ends it without asking when no question can reach the operator.
void HandleConsoleEvent();

// How long an exit (the tray's Exit, a console event) waits for the agent to
// let go of the server before the process ends. Windows ends a process a few
// seconds after a close, logoff or shutdown event whatever its handler does;
// this stays inside that. The workers get the first part of it, the server's
// release the rest.
constexpr int64_t kExitBoundMs = 3000;
constexpr int64_t kExitWorkersBoundMs = 2500;

// What an exit runs before the process ends: stops the agent's workers,
// waiting for them at most boundMs, and lets go of the server.
using ExitRelease = std::function<void(int64_t boundMs)>;

// Sets the exit's release (nullptr: none), from the host once its agent runs
// and again before the agent goes. Waits while an exit runs the release, so
// the release never reaches an agent that is gone.
void SetExitRelease(ExitRelease release);

// Runs task on a thread of its own and waits for it until boundMs have passed
// on env's monotonic clock. True when it ended in time; otherwise it runs on
// (or never ran, when no thread could be made) and nothing waits for it.
bool RunWithinBound(std::function<void()> task, int64_t boundMs, platform::Env* env);

// Hands the commands, the check mark and the console events to the system
// layer.
void InstallAgentShellCallbacks();
