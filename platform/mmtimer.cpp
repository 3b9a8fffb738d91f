#include "platform/mmtimer.h"

#include <chrono>
#include <system_error>

#include "platform/threadpriority.h"

namespace platform {

MmTimer::~MmTimer() {
    Kill();
}

bool MmTimer::SetEvent(uint32_t periodMs, AutoResetEvent& event) {
    if (periodMs == 0 || m_thread.joinable()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
    }
    try {
        m_thread = std::thread(&MmTimer::Run, this, periodMs, &event);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void MmTimer::Kill() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_one();
    m_thread.join();
}

void MmTimer::Run(uint32_t periodMs, AutoResetEvent* event) {
    RaiseCurrentThreadPriority();  // refused: the timer still runs, with more jitter
    const auto period = std::chrono::milliseconds(periodMs);
    auto deadline = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // The condition variable waits on the monotonic clock to an absolute time; Kill
        // interrupts the wait at once.
        if (m_cv.wait_until(lock, deadline, [this] { return m_stop; })) {
            return;
        }
        event->Set();
        deadline += period;
    }
}

}  // namespace platform
