#pragma once
// An auto-reset event: Set wakes one waiter (or the next Wait) and the event clears itself
// as that waiter returns. Several Sets before a Wait collapse into one signal, so ticks
// that arrive while the waiter is busy are absorbed, not queued. Any thread may Set; one
// thread waits.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

enum class WaitResult { Signaled, TimedOut };

class AutoResetEvent {
public:
    AutoResetEvent() = default;  // created non-signalled
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    // Drops a pending signal.
    void Reset();
    // Signaled (and the event cleared) when Set was called before or during the wait;
    // TimedOut after timeoutMs milliseconds on the monotonic clock.
    WaitResult Wait(uint32_t timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signaled = false;
};

}  // namespace platform
