#pragma once
// Scheduling requests for the pacing threads (the streaming worker and its timer).

namespace platform {

// Asks the system to run the calling thread under real-time round-robin scheduling and to
// wake it from timed sleeps without timer slack. Returns true when real-time scheduling
// was granted; when refused (no privilege) the thread carries on at normal priority.
bool RaiseCurrentThreadPriority();

}  // namespace platform
