#include "engine/liveschedule.h"

void LiveSchedule::Start(int64_t packetNs) {
    *this = LiveSchedule();
    m_packetNs = packetNs;
}

LiveSchedule::Step LiveSchedule::Plan(int64_t instantNs, uint64_t waitingPackets, bool paced) {
    if (paced && m_earlyRun >= kEarlyPackets) {
        m_earlyRun = 0;
        m_restart = true;
        return Step::kDrop;
    }
    const int64_t lateNs = m_taken == 0 ? 0 : instantNs - (m_scheduleNs + m_packetNs);
    const bool stalled = lateNs > kCatchUpPackets * m_packetNs;
    const bool stale = paced && lateNs <= m_packetNs / 2 && waitingPackets >= 2;
    const bool fresh = m_taken == 0 || stalled || stale || m_restart;
    m_restart = false;
    if (!fresh) {
        return Step::kNext;
    }
    return paced ? Step::kNewest : Step::kRestart;
}

double LiveSchedule::Taken(Step step, int64_t instantNs, int64_t readyNs) {
    if (step == Step::kNext) {
        m_scheduleNs += m_packetNs;
        const int64_t lagNs = readyNs - m_scheduleNs;
        m_earlyRun = lagNs < -m_packetNs / 2 ? m_earlyRun + 1 : 0;
        m_drift.Update(lagNs, m_packetNs);
    } else {
        // From the packet's completion, or from now when that lies a packet or more back
        // (queued): the next packet is due a packet time later.
        m_scheduleNs = readyNs > instantNs - m_packetNs ? readyNs : instantNs;
        if (m_taken == 0) {
            m_firstScheduleNs = m_scheduleNs;
        }
        m_earlyRun = 0;
    }
    ++m_taken;
    return m_drift.TrimPpm();
}
