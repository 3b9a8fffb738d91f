#pragma once
// The monotonic clock (CLOCK_MONOTONIC) in nanoseconds, and a sleep to an absolute time on
// it. Pacing against absolute deadlines never drifts: a late wake-up does not shift the
// deadlines after it.

#include <cstdint>

namespace platform {

int64_t MonotonicNowNs();
// Sleeps until the monotonic clock reads deadlineNs or later; returns at once when that time
// has passed. Signals do not cut the sleep short. False only when the system refuses the
// sleep.
bool SleepUntilNs(int64_t deadlineNs);

}  // namespace platform
