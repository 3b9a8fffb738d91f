#include "engine/rtpfanout.h"

#include <algorithm>

RtpFanOut::RtpFanOut(size_t capacity, platform::UdpBatch::Mode mode)
    : m_batch(capacity, mode), m_queued(capacity, 0) {}

size_t RtpFanOut::Send(RtpProcessor* senders, const RtpDestination* destinations, size_t count,
                       const uint8_t* payload, int length, int payloadType,
                       const uint8_t* enabled) {
    count = std::min(count, m_queued.size());
    if (count == 1 && (enabled == nullptr || enabled[0] != 0)) {
        const RtpDestination& d = destinations[0];
        return senders[0].SendPacket(payload, length, d.IP, static_cast<int>(d.Port),
                                     payloadType) >= 0
                   ? 1
                   : 0;
    }
    // A refused payload leaves its sender out of the batch.
    for (size_t i = 0; i < count; ++i) {
        const RtpDestination& d = destinations[i];
        RtpProcessor& sender = senders[i];
        m_queued[i] = 0;
        if (enabled != nullptr && enabled[i] == 0) {
            continue;
        }
        if (sender.PreparePacket(payload, length, d.IP, static_cast<int>(d.Port), payloadType)) {
            m_queued[i] = m_batch.Add(sender.Socket(), sender.Header(), RtpProcessor::kHeaderBytes,
                                      payload, static_cast<size_t>(length))
                              ? 1
                              : 0;
        }
    }
    m_batch.Submit();
    size_t sent = 0;
    size_t slot = 0;
    for (size_t i = 0; i < count; ++i) {
        if (m_queued[i] == 0) {
            continue;
        }
        const int result = m_batch.Result(slot++);
        senders[i].CountSend(result);
        sent += result >= 0 ? 1 : 0;
    }
    return sent;
}
