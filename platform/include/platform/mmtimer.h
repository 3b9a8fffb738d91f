#pragma once
// A periodic timer that signals an auto-reset event, with the semantics the streaming
// worker was designed for: set a periodic event, kill it. A timer thread of its own sleeps
// to absolute deadlines on the monotonic clock (deadline += period), so a late wake-up
// never shifts the schedule and the period never drifts. Owned and driven by one thread;
// the event may be waited on by that thread.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/autoresetevent.h"

namespace platform {

class MmTimer {
public:
    MmTimer() = default;
    MmTimer(const MmTimer&) = delete;
    MmTimer& operator=(const MmTimer&) = delete;
    ~MmTimer();  // kills a running timer

    // Starts signalling `event` every periodMs milliseconds, the first time one period
    // from now. False (and nothing started) when periodMs is 0, the timer is already
    // running, or its thread cannot be created. `event` must outlive the timer's run.
    bool SetEvent(uint32_t periodMs, AutoResetEvent& event);
    // Stops the timer; once it returns the event is signalled no more. No-op when stopped.
    void Kill();
    bool IsRunning() const { return m_thread.joinable(); }

private:
    void Run(uint32_t periodMs, AutoResetEvent* event);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;  // guarded by m_mutex
};

}  // namespace platform
