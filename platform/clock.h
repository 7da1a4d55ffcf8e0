// Clocks and sleeping. All calls are safe from any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Monotonic clock in nanoseconds; unaffected by changes of the wall clock.
int64_t MonotonicNanoseconds();

// Sleeps until the monotonic clock has reached deadline (early wake-ups sleep
// again for the rest). Returns at once for a deadline in the past.
void SleepUntil(int64_t monotonicDeadlineNs);

// Calendar time in whole seconds since 1970-01-01 UTC.
int64_t CalendarSeconds();

// The millisecond field (0 to 999) of the local wall clock.
int LocalMilliseconds();

// Broken-down local time of seconds since 1970. False when the conversion
// rejects the value.
bool ToLocalTime(int64_t seconds, std::tm* out);

}  // namespace platform
