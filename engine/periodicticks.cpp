#include "engine/periodicticks.h"

#include <algorithm>

namespace {
constexpr int64_t kNsPerMs = 1000000;
}  // namespace

void PeriodicTicks::Arm(uint32_t periodMs) {
    m_periodNs = static_cast<int64_t>(std::max<uint32_t>(periodMs, 1)) * kNsPerMs;
    m_nextNs = m_source.NowNs() + m_periodNs;
}

void PeriodicTicks::ArmAt(int64_t firstNs, uint32_t periodMs) {
    m_periodNs = static_cast<int64_t>(std::max<uint32_t>(periodMs, 1)) * kNsPerMs;
    m_nextNs = std::max(firstNs, m_source.NowNs());
}

TickWait PeriodicTicks::Wait(uint32_t timeoutMs, const platform::WakeEvent* wake) {
    const int64_t timeoutNs = static_cast<int64_t>(timeoutMs) * kNsPerMs;
    const int64_t now = m_source.NowNs();
    if (m_nextNs - now > timeoutNs) {
        if (wake != nullptr) {
            return m_source.SleepUntilNs(now + timeoutNs, *wake) == SleepEnd::kWoken
                       ? TickWait::Woken
                       : TickWait::TimedOut;
        }
        m_source.SleepUntilNs(now + timeoutNs);
        return TickWait::TimedOut;
    }
    // Also called when the deadline has passed, so that the source sees every deadline.
    if (wake != nullptr) {
        switch (m_source.SleepUntilNs(m_nextNs, *wake)) {
            case SleepEnd::kWoken:
                return TickWait::Woken;
            case SleepEnd::kFailed:
                return TickWait::TimedOut;
            case SleepEnd::kReached:
                break;
        }
    } else if (!m_source.SleepUntilNs(m_nextNs)) {
        return TickWait::TimedOut;
    }
    m_lastDeadlineNs = m_nextNs;
    // The next deadline after the wake-up: every one passed by now is this tick's.
    const int64_t late = std::max<int64_t>(m_source.NowNs() - m_nextNs, 0);
    m_nextNs += (late / m_periodNs + 1) * m_periodNs;
    return TickWait::Tick;
}
