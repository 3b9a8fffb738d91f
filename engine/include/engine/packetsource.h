#pragma once
// A source of packets for the transmitter: each Take yields the audio of the next packet,
// encoded, and nothing about where it goes. A playlist's entries (EntrySource, through the
// file engine) and a live page (LiveSource) are sources; the streaming worker decides which
// one holds the wire and hands its packets to the transmitter. Worker thread only.

#include <climits>
#include <cstdint>

struct SourcePacket {
    static constexpr int64_t kNoCapture = INT64_MIN;

    const uint8_t* payload = nullptr;  // valid until the source's next Take
    int length = 0;
    int payloadType = 0;
    int32_t clockRate = 8000;  // the RTP clock, Hz
    // Live audio: the monotonic instant the sound of the packet's first sample reached the
    // device (the converter's delay included); kNoCapture for a file.
    int64_t captureNs = kNoCapture;
};

class PacketSource {
public:
    virtual ~PacketSource() = default;
    // A whole packet can be taken now.
    virtual bool Ready() const = 0;
    // Takes the next packet, the one the transmitter sends for the sending clock's instantNs;
    // false when none is ready.
    virtual bool Take(int64_t instantNs, SourcePacket& packet) = 0;
    // The packet taken last has left: the source may prepare the one after it.
    virtual void Sent() {}
    // No packet will be ready again.
    virtual bool Finished() const = 0;
};
