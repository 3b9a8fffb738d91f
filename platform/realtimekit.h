#pragma once
// The RealtimeKit client: the way an ordinary user's thread gets real-time scheduling
// without CAP_SYS_NICE, through the daemon org.freedesktop.RealtimeKit1 on the system bus.

namespace platform {

// Asks RealtimeKit to run the calling thread under SCHED_RR at `priority`, lowered to the
// daemon's maximum. Sets the process's RLIMIT_RTTIME to the daemon's limit first, which it
// requires. False, quietly, when there is no system bus, no daemon, or it refuses.
bool RealtimeKitMakeThreadRealtime(int priority);

}  // namespace platform
