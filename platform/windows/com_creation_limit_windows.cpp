#include "platform/windows/com_creation_limit.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/thread.h"

namespace comcreation {
namespace {

// One creation, shared by the waiting caller and the creating thread; the
// last of the two to let go frees it.
struct PendingCreation {
  std::mutex lock;  // guards every field below
  std::condition_variable ended;
  bool done = false;       // the creation has returned
  bool abandoned = false;  // the caller stopped waiting; nobody takes object
  HRESULT result = E_FAIL;
  IUnknown* object = nullptr;
};

bool InMultithreadedApartment() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
}

}  // namespace

HRESULT CreateWithinLimit(std::function<HRESULT(IUnknown**)> create, uint32_t limitMs,
                          IUnknown** object) {
  *object = nullptr;
  if (!InMultithreadedApartment()) return create(object);

  auto pending = std::make_shared<PendingCreation>();
  const bool started = platform::StartDetachedThread([pending, create] {
    // The thread joins the caller's apartment, so the proxy it creates is
    // the caller's to use.
    const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IUnknown* created = nullptr;
    const HRESULT result = create(&created);
    IUnknown* unwanted = nullptr;
    {
      std::lock_guard<std::mutex> hold(pending->lock);
      if (pending->abandoned) {
        unwanted = created;
      } else {
        pending->result = result;
        pending->object = created;
      }
      pending->done = true;
    }
    pending->ended.notify_all();
    if (unwanted != nullptr) unwanted->Release();
    if (SUCCEEDED(apartment)) CoUninitialize();
  });
  if (!started) return E_OUTOFMEMORY;

  std::unique_lock<std::mutex> hold(pending->lock);
  if (!pending->ended.wait_for(hold, std::chrono::milliseconds(limitMs),
                               [&pending] { return pending->done; })) {
    pending->abandoned = true;
    return kCreationTimedOut;
  }
  *object = pending->object;
  return pending->result;
}

}  // namespace comcreation
