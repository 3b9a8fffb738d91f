#pragma once
// A wake-up another thread (or a signal handler) sends to a thread that sleeps: an eventfd
// the sleeper waits on beside its deadline. Signals do not queue: any number of them before
// the sleeper looks wakes it once.

#include <cstdint>

namespace platform {

class WakeEvent {
public:
    WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    ~WakeEvent();

    // False when the system refused the eventfd: Signal then does nothing and sleepers wake
    // only at their deadlines.
    bool Ok() const { return m_fd >= 0; }
    // Any thread; async-signal-safe (one write).
    void Signal() const;
    // The sleeper's: true when a signal came since the last call, which it clears.
    bool Consume() const;
    // For a poll beside other descriptors; -1 when not Ok.
    int Fd() const { return m_fd; }
    // Sleeps until a signal comes (consumed: true) or until the monotonic clock reads
    // deadlineNs (false). Signals to the process do not cut it short.
    bool WaitUntilNs(int64_t deadlineNs) const;

private:
    int m_fd = -1;
};

}  // namespace platform
