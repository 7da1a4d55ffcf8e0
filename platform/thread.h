// Threads that nobody joins: the agent's periodic workers, its HTTP listener
// and the listener's connection threads.
#pragma once

#include <functional>

namespace platform {

// Runs body on a new thread of its own, which ends when body returns; nothing
// waits for it. False when no thread could be created (body then never runs).
// Windows: a CRT thread (_beginthreadex) whose handle is closed at once.
// MinGW's POSIX-thread layer is not used for these threads: a thread of it
// that ends while its creator detaches it can hand its bookkeeping to two
// later threads, so that one of them runs the other's function.
// POSIX: a std::thread, detached.
bool StartDetachedThread(std::function<void()> body);

}  // namespace platform
