#include "engine/entrysource.h"

bool EntrySource::Take(int64_t instantNs, SourcePacket& packet) {
    m_engine.SetTickDeadlineNs(instantNs);
    const uint8_t* payload = m_engine.NextPayload();
    if (payload == nullptr) {
        return false;
    }
    packet.payload = payload;
    packet.length = m_engine.PayloadBytes();
    packet.payloadType = m_engine.PayloadType();
    packet.clockRate = m_engine.ClockRate();
    packet.captureNs = SourcePacket::kNoCapture;
    return true;
}
