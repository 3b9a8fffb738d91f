#pragma once
// The clock the streaming worker paces by: monotonic time and a sleep to an absolute
// deadline, which another thread may cut short. The worker asks for nothing else, so tests
// can drive it from a clock of their own instead of the system's.

#include <cstdint>

namespace platform {
class WakeEvent;
}

// How a sleep that may be woken ended.
enum class SleepEnd {
    kReached,  // the clock reached the deadline
    kWoken,    // the wake event came first (and was consumed)
    kFailed,   // the system refused the sleep
};

class TickSource {
public:
    virtual ~TickSource() = default;
    // Monotonic time in nanoseconds.
    virtual int64_t NowNs() = 0;
    // Returns once NowNs() has reached deadlineNs, at once when it already has. False when
    // the sleep failed.
    virtual bool SleepUntilNs(int64_t deadlineNs) = 0;
    // The same sleep, ended early by `wake`: a signal that came before the call ends it at
    // once. A deadline already reached with a signal pending reports kWoken, so no signal is
    // lost.
    virtual SleepEnd SleepUntilNs(int64_t deadlineNs, const platform::WakeEvent& wake) = 0;
    // Wall-clock time now, in nanoseconds since 1970, read as close to NowNs() as can be:
    // what RTCP sender reports pair with the RTP clock. The system's clock unless a test's.
    virtual int64_t WallNs();
};

// The system's monotonic clock with absolute sleeps (CLOCK_MONOTONIC, TIMER_ABSTIME).
TickSource& MonotonicTickSource();
