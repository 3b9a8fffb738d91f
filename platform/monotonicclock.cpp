#include "platform/monotonicclock.h"

#include <time.h>

#include <cerrno>

namespace platform {

namespace {
constexpr int64_t kNsPerSecond = 1000000000;
}  // namespace

int64_t MonotonicNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

bool SleepUntilNs(int64_t deadlineNs) {
    if (deadlineNs < 0) {
        return true;  // long past
    }
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(deadlineNs / kNsPerSecond);
    deadline.tv_nsec = static_cast<long>(deadlineNs % kNsPerSecond);
    int result;
    // An absolute sleep interrupted by a signal is simply resumed: the deadline stays put.
    do {
        result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
    } while (result == EINTR);
    return result == 0;
}

}  // namespace platform
