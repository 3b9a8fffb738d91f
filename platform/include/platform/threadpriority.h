#pragma once
// Scheduling requests for the streaming worker, the one pacing thread.

namespace platform {

// What the system granted the calling thread.
enum class PriorityGrant {
    Normal,       // both requests refused: normal priority, timer slack still cut
    Realtime,     // real-time round-robin, granted directly (CAP_SYS_NICE or RLIMIT_RTPRIO)
    RealtimeKit,  // real-time round-robin, granted by RealtimeKit on the system bus
};

// Asks for real-time round-robin scheduling for the calling thread and for timed sleeps
// without timer slack. When the direct request is refused it asks RealtimeKit (which caps
// the priority and, as it requires, the process's RLIMIT_RTTIME); when that is refused too,
// or there is no bus or no daemon, the thread carries on at normal priority.
PriorityGrant RaiseCurrentThreadPriority();

// "real-time", "real-time through RealtimeKit" or "normal priority".
const char* PriorityGrantText(PriorityGrant grant);

}  // namespace platform
