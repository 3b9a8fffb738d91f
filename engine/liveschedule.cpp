#include "engine/liveschedule.h"

#include <algorithm>

void LiveSchedule::Start(int64_t packetNs) {
    *this = LiveSchedule();
    m_packetNs = packetNs;
}

LiveSchedule::Step LiveSchedule::Plan(int64_t instantNs, uint64_t waitingPackets, bool paced) {
    m_paced = paced;
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
        Settle(readyNs);
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
        m_settleUntilNs = m_scheduleNs + kSettleNs;
        m_settleShiftNs = m_packetNs / kSettleShiftDivisor;
    }
    ++m_taken;
    return m_drift.TrimPpm();
}

void LiveSchedule::Settle(int64_t readyNs) {
    // Far early is a late anchor's or a device's free of real time, which the rules above
    // handle; only a clocked device's small lead is settled.
    const int64_t earlyNs = m_scheduleNs - readyNs;
    if (!m_paced || earlyNs <= 0 || earlyNs >= m_packetNs / 2 || readyNs >= m_settleUntilNs) {
        return;
    }
    const int64_t shiftNs = std::min(earlyNs, m_settleShiftNs);
    m_scheduleNs -= shiftNs;
    m_firstScheduleNs -= shiftNs;
    m_settleShiftNs -= shiftNs;
}
