#include "engine/driftsteering.h"

#include <algorithm>

double DriftSteering::Update(int64_t lagNs, int64_t packetNs) {
    if (lagNs < -packetNs / 2) {
        // Half a packet early is beyond any drift the steering leaves (a few milliseconds):
        // the device runs ahead of real time, and its packets wait their turn.
        return m_trimPpm;
    }
    m_lagNs += (static_cast<double>(lagNs) - m_lagNs) / kAveraging;
    m_trimPpm = std::clamp(kPpmPerMs * m_lagNs / 1e6, -kMaxTrimPpm, kMaxTrimPpm);
    return m_trimPpm;
}

void DriftSteering::Reset() {
    m_lagNs = 0;
    m_trimPpm = 0;
}
