#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace platform {

bool StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace platform
