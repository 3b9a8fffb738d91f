#include "platform/threadpriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace platform {

namespace {
// Mid-range: above every normal thread, below the kernel's own real-time threads. The
// kernel's real-time throttling still leaves other threads a share of each second.
constexpr int kRealtimePriority = 40;
}  // namespace

bool RaiseCurrentThreadPriority() {
    // Timer slack of 1 ns: a periodic sleeper should not be woken up to 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

}  // namespace platform
