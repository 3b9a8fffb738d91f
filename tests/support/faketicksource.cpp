#include "support/faketicksource.h"

#include <algorithm>
#include <chrono>

#include "platform/wakeevent.h"

namespace testsupport {

int64_t FakeTickSource::NowNs() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nowNs;
}

bool FakeTickSource::SleepUntilNs(int64_t deadlineNs) {
    return Sleep(deadlineNs, nullptr) == SleepEnd::kReached;
}

SleepEnd FakeTickSource::SleepUntilNs(int64_t deadlineNs, const platform::WakeEvent& wake) {
    return Sleep(deadlineNs, &wake);
}

SleepEnd FakeTickSource::Sleep(int64_t deadlineNs, const platform::WakeEvent* wake) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_failSleeps) {
        return SleepEnd::kFailed;
    }
    // A sleep woken early and taken up again to the same deadline is the one sleep.
    if (m_deadlines.empty() || m_deadlines.back() != deadlineNs) {
        m_deadlines.push_back(deadlineNs);
    }
    for (;;) {
        if (wake != nullptr && wake->Consume()) {
            return SleepEnd::kWoken;
        }
        if (RunDueEvent(lock, deadlineNs)) {
            continue;  // the action may have moved the clock or added events
        }
        if (m_nowNs >= deadlineNs) {
            return SleepEnd::kReached;
        }
        if (!m_held) {
            m_nowNs = deadlineNs;
            continue;
        }
        m_waiting = true;
        m_waitingFor = deadlineNs;
        m_cv.notify_all();
        if (wake != nullptr) {
            m_cv.wait_for(lock, std::chrono::milliseconds(1));
        } else {
            m_cv.wait(lock);
        }
        m_waiting = false;
    }
}

bool FakeTickSource::RunDueEvent(std::unique_lock<std::mutex>& lock, int64_t limit) {
    // Only what the clock may reach: a held clock does not run ahead of Advance.
    const int64_t reach = m_held ? std::min(limit, m_nowNs) : limit;
    auto due = std::min_element(m_events.begin(), m_events.end(),
                                [](const Event& a, const Event& b) { return a.timeNs < b.timeNs; });
    if (due == m_events.end() || due->timeNs > reach) {
        return false;
    }
    Event event = std::move(*due);
    m_events.erase(due);
    m_nowNs = std::max(m_nowNs, event.timeNs);
    lock.unlock();
    event.action();
    lock.lock();
    return true;
}

void FakeTickSource::Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
}

void FakeTickSource::RunFree() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
    }
    m_cv.notify_all();
}

void FakeTickSource::Advance(int64_t ns) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nowNs += ns;
    }
    m_cv.notify_all();
}

void FakeTickSource::At(int64_t timeNs, std::function<void()> action) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back({timeNs, std::move(action)});
}

std::vector<int64_t> FakeTickSource::Deadlines() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deadlines;
}

bool FakeTickSource::WaitForSleeper(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return m_waiting && m_nowNs < m_waitingFor; });
}

bool FakeTickSource::ReleaseSleeps(int n, int timeoutMs) {
    for (int i = 0; i < n; ++i) {
        if (!WaitForSleeper(timeoutMs)) {
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nowNs = m_waitingFor;  // the sleeper wakes exactly on its deadline
        }
        m_cv.notify_all();
    }
    return true;
}

}  // namespace testsupport
