#pragma once
// Sends one payload to a tick's destinations, each through its own RtpProcessor (its own
// socket, source port, SSRC, sequence and counters). With more than one destination the
// datagrams leave in one system call where the kernel allows it (platform/udpbatch.h), else
// one send each; one destination is one plain send either way. Used by the streaming worker,
// one thread at a time; nothing here allocates after construction.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/rtpprocessor.h"
#include "platform/udpbatch.h"
#include "playlist/playlist.h"

class RtpFanOut {
public:
    explicit RtpFanOut(size_t capacity,
                       platform::UdpBatch::Mode mode = platform::UdpBatch::Mode::Ring);

    // Sends payload[0..length) with `payloadType` to destinations[i] through senders[i],
    // i < count (at most the capacity), leaving out i where `enabled` (when given) holds 0;
    // returns the datagrams handed to the network.
    size_t Send(RtpProcessor* senders, const RtpDestination* destinations, size_t count,
                const uint8_t* payload, int length, int payloadType,
                const uint8_t* enabled = nullptr);

    platform::UdpBatch::Mode ActiveMode() const { return m_batch.ActiveMode(); }

private:
    platform::UdpBatch m_batch;
    std::vector<uint8_t> m_queued;  // 1 for each sender whose datagram is in the batch
};
