// A time limit on the creation of a COM object. A creation can fail to come
// back at all: a local server that never registers its class object, a
// server that takes the activation and never answers it, a remote host that
// stops answering halfway. The agent must then report a failed creation and
// try again later, not wait for ever.
//
// Ownership: the created object goes to the caller when the creation ends in
// time; after the limit the creation is abandoned and whatever it creates
// later is released by the thread that created it. Thread-safety: callable
// from any thread; each call has its own creation thread and state.
#pragma once

#include <windows.h>
// After <windows.h>, which it relies on.
#include <objbase.h>

#include <cstdint>
#include <functional>

namespace comcreation {

// The agent's limit. Windows gives up on a local server that has not
// registered its class object after about two minutes, and a remote
// activation ends by then too (the RPC layer's own time-outs are shorter);
// an activation still pending after two minutes is not coming back.
constexpr uint32_t kDefaultCreationLimitMs = 120000;

// What a creation given up after the limit answers: the code Windows gives
// for a local server that never registered its class object.
constexpr HRESULT kCreationTimedOut = CO_E_SERVER_EXEC_FAILURE;

// Runs create(&object) and waits at most limitMs for it.
//
// In the multithreaded apartment (the agent's, explicit or implicit) the
// creation runs on a thread of its own in that apartment, so the caller can
// stop waiting. Ended in time: create's result, and *object holds what it
// created (one reference, the caller's). After limitMs: kCreationTimedOut and
// *object is null; the creation thread goes on, and releases what create
// hands it when it returns. E_OUTOFMEMORY when no thread could be started.
// create must hold everything it uses (capture by value): it may outlive the
// caller's frame.
//
// A caller in a single-threaded apartment (only tests have one: the HTTP
// client leaves its thread in one) gets the creation on its own thread,
// without the limit: a proxy created in another apartment could not be used
// there without marshalling it across.
HRESULT CreateWithinLimit(std::function<HRESULT(IUnknown**)> create, uint32_t limitMs,
                          IUnknown** object);

}  // namespace comcreation
