#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace platform {

int64_t MonotonicNanoseconds() {
  static const int64_t frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<int64_t>(value.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  int64_t ticks = counter.QuadPart;
  return (ticks / frequency) * 1000000000LL + (ticks % frequency) * 1000000000LL / frequency;
}

void SleepUntil(int64_t monotonicDeadlineNs) {
  for (;;) {
    int64_t remaining = monotonicDeadlineNs - MonotonicNanoseconds();
    if (remaining <= 0) return;
    DWORD milliseconds = static_cast<DWORD>(remaining / 1000000);
    Sleep(milliseconds == 0 ? 1 : milliseconds);
  }
}

int64_t CalendarSeconds() { return static_cast<int64_t>(::_time64(nullptr)); }

int LocalMilliseconds() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wMilliseconds;
}

bool ToLocalTime(int64_t seconds, std::tm* out) {
  __time64_t value = static_cast<__time64_t>(seconds);
  return _localtime64_s(out, &value) == 0;
}

}  // namespace platform
