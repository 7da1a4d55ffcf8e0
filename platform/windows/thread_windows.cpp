#include <process.h>
#include <windows.h>

#include <memory>

#include "platform/thread.h"

namespace platform {
namespace {

unsigned __stdcall RunDetachedBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  auto* owned = new std::function<void()>(std::move(body));
  const uintptr_t handle = _beginthreadex(nullptr, 0, RunDetachedBody, owned, 0, nullptr);
  if (handle == 0) {
    delete owned;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace platform
