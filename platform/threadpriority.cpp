#include "platform/threadpriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include "realtimekit.h"

namespace platform {

namespace {
// Mid-range: above every normal thread, below the kernel's own real-time threads. The
// kernel's real-time throttling still leaves other threads a share of each second.
constexpr int kRealtimePriority = 40;
}  // namespace

PriorityGrant RaiseCurrentThreadPriority() {
    // Timer slack of 1 ns: a periodic sleeper should not be woken up to 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) {
        return PriorityGrant::Realtime;
    }
    return RealtimeKitMakeThreadRealtime(kRealtimePriority) ? PriorityGrant::RealtimeKit
                                                            : PriorityGrant::Normal;
}

const char* PriorityGrantText(PriorityGrant grant) {
    switch (grant) {
        case PriorityGrant::Realtime:
            return "real-time";
        case PriorityGrant::RealtimeKit:
            return "real-time through RealtimeKit";
        case PriorityGrant::Normal:
            break;
    }
    return "normal priority";
}

}  // namespace platform
