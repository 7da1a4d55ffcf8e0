#include <sys/time.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace platform {

int64_t MonotonicNanoseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void SleepUntil(int64_t monotonicDeadlineNs) {
  if (monotonicDeadlineNs <= MonotonicNanoseconds()) return;
  struct timespec deadline;
  deadline.tv_sec = static_cast<time_t>(monotonicDeadlineNs / 1000000000LL);
  deadline.tv_nsec = static_cast<long>(monotonicDeadlineNs % 1000000000LL);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

int64_t CalendarSeconds() { return static_cast<int64_t>(::time(nullptr)); }

int LocalMilliseconds() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<int>(now.tv_usec / 1000);
}

bool ToLocalTime(int64_t seconds, std::tm* out) {
  // The same range as the Windows conversion, so both builds agree.
  if (seconds < 0 || seconds > 32535215999LL) return false;
  time_t value = static_cast<time_t>(seconds);
  return localtime_r(&value, out) != nullptr;
}

}  // namespace platform
