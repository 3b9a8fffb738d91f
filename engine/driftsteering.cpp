#include "engine/driftsteering.h"

#include <algorithm>

double DriftSteering::Update(int64_t lagNs, int64_t packetNs) {
    if (lagNs < -packetNs / 2) {
        // Half a packet early is beyond any drift the steering leaves (a few milliseconds):
        // the device runs ahead of real time, and its packets wait their turn.
        return m_trimPpm;
    }
    m_lagNs += (static_cast<double>(lagNs) - m_lagNs) / kAveraging;
    // Lateness within the band costs nothing (a late packet leaves when it completes) and is
    // mostly the device's jitter: steering on it would only move the packets across the
    // device's blocks.
    const double bandNs = static_cast<double>(packetNs) / kLateBandDivisor;
    const double steeredNs = m_lagNs > bandNs ? m_lagNs - bandNs : std::min(m_lagNs, 0.0);
    m_trimPpm = std::clamp(kPpmPerMs * steeredNs / 1e6, -kMaxTrimPpm, kMaxTrimPpm);
    return m_trimPpm;
}

void DriftSteering::Reset() {
    m_lagNs = 0;
    m_trimPpm = 0;
}
