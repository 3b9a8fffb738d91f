#include "platform/autoresetevent.h"

#include <chrono>

namespace platform {

void AutoResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signaled = true;
    }
    m_cv.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signaled = false;
}

WaitResult AutoResetEvent::Wait(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_until(lock, deadline, [this] { return m_signaled; })) {
        return WaitResult::TimedOut;
    }
    m_signaled = false;
    return WaitResult::Signaled;
}

}  // namespace platform
