#pragma once
// Turns one packet of G.711 payload into an RTP datagram (RFC 3550 fixed header, RFC 3551
// payload types 0 PCMU and 8 PCMA) and sends it over UDP to one destination. Each sender
// keeps its own sequence number, timestamp, first-packet marker, SSRC and socket; counters
// are never reset. All senders assemble datagrams in one shared static buffer, so SendPacket
// must be called from one thread at a time (the streaming worker). No allocation per packet.

#include <cstdint>

#include "platform/udpsocket.h"

class RtpProcessor {
public:
    static constexpr uint32_t kDefaultSsrc = 0x55667788;
    static constexpr int kHeaderBytes = 12;
    static constexpr int kPacketBufferBytes = 8000;
    static constexpr int kMaxPayloadBytes = kPacketBufferBytes - kHeaderBytes;  // 7988

    RtpProcessor() = default;
    RtpProcessor(const RtpProcessor&) = delete;
    RtpProcessor& operator=(const RtpProcessor&) = delete;
    virtual ~RtpProcessor() = default;  // the socket member closes itself

    // Sends payload[0..length) to ip (network byte order) : port (host byte order, low 16
    // bits) with the given payload type (low 7 bits). Returns the bytes sent, or -1 when the
    // send failed. A payload longer than kMaxPayloadBytes, or negative, is refused: returns
    // -1, nothing is sent and no counter moves.
    int SendPacket(const uint8_t* payload, int length, uint32_t ip, int port, int payloadType);

    uint32_t m_ssrc = kDefaultSsrc;  // the engine sets (index + 5)^2
    uint32_t m_sequence = 0;         // packets sent so far; the wire carries its low 16 bits
    int m_firstPacket = 1;           // marker goes out on the very first packet only
    int m_socketReady = 0;           // 1 while the socket is open; opened on first send
    uint32_t m_timestamp = 0;        // payload bytes sent so far, modulo 2^32
    platform::UdpSocket m_socket;
};
