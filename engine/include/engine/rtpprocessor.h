#pragma once
// Turns one packet of G.711 payload into an RTP datagram (RFC 3550 fixed header, RFC 3551
// payload types 0 PCMU and 8 PCMA) and sends it over UDP to one destination. Each sender
// keeps its own sequence number, timestamp, first-packet marker, SSRC, socket and header
// buffer (part of the sender); counters are never reset. The datagram is gathered from
// that header and the caller's payload by the one send call, so a fan-out copies no payload
// and senders share nothing: different senders may send from different threads, one sender
// serves one thread at a time. No allocation per packet.

#include <cstdint>

#include "platform/udpsocket.h"

class RtpProcessor {
public:
    static constexpr uint32_t kDefaultSsrc = 0x55667788;
    static constexpr int kHeaderBytes = 12;
    static constexpr int kMaxPacketBytes = 8000;  // the largest datagram sent
    static constexpr int kMaxPayloadBytes = kMaxPacketBytes - kHeaderBytes;  // 7988

    RtpProcessor();
    RtpProcessor(const RtpProcessor&) = delete;
    RtpProcessor& operator=(const RtpProcessor&) = delete;
    virtual ~RtpProcessor();  // the socket closes itself

    // Sends payload[0..length) to ip (network byte order) : port (host byte order, low 16
    // bits) with the given payload type (low 7 bits). The socket is opened on first use and
    // connected to the destination, again only when the destination changes. Returns the
    // bytes sent, or -1 when the send failed: the sequence and timestamp advance as if the
    // packet had gone out (a receiver sees it lost), SendErrors() counts it, the sent counts
    // leave it out, and the next packet is tried normally. A payload longer than
    // kMaxPayloadBytes, or negative, is refused: returns -1, nothing is sent, nothing moves.
    int SendPacket(const uint8_t* payload, int length, uint32_t ip, int port, int payloadType);

    // Opens the socket and connects it to ip : port ahead of the first packet, so that the
    // first send costs no more than any other; false when the system refuses (the send then
    // tries again).
    bool Connect(uint32_t ip, int port);

    // SendPacket in two halves, for a fan-out that sends many senders' datagrams in one
    // system call (rtpfanout.h): PreparePacket does all but the send (false: refused as
    // above, nothing moves); the datagram is then Header() (kHeaderBytes) followed by the
    // payload on Socket(), and CountSend takes the send's result.
    bool PreparePacket(const uint8_t* payload, int length, uint32_t ip, int port, int payloadType);
    const uint8_t* Header() const { return m_header; }
    void CountSend(int sent);

    // The hop limit and outgoing interface (empty: the routing table's choice) of datagrams
    // to a multicast group; they do nothing for other destinations. Kept by the socket across
    // reopening; set before the packets they are for, on the sending thread. An interface the
    // system does not know leaves the choice to the routing table.
    void SetMulticastOptions(uint32_t ttl, const char* interfaceName);

    uint32_t Ssrc() const { return m_ssrc; }
    void SetSsrc(uint32_t ssrc) { m_ssrc = ssrc; }
    // A new source on the wire (RFC 3550 5.1, 8.1): this SSRC, the next packet carrying
    // `sequence` and `timestamp` and the marker, the sent counts from zero.
    void Restart(uint32_t ssrc, uint16_t sequence, uint32_t timestamp);
    // Packets prepared so far (since construction or Restart), whether they left or not; the
    // wire carries the low 16 bits of the next one, plus the start Restart gave.
    uint32_t Sequence() const { return m_sequence; }
    // The sequence number the next packet carries on the wire.
    uint16_t NextWireSequence() const {
        return static_cast<uint16_t>((m_sequence + 1 + m_sequenceBase) & 0xFFFF);
    }
    // The timestamp of the next packet: payload bytes sent so far plus the sampling instants
    // skipped by AdvanceTimestamp, mod 2^32.
    uint32_t Timestamp() const { return m_timestamp; }
    // Moves the sampling clock on by instants that passed without a packet (RFC 3550 5.1),
    // so that the timestamp keeps tracking the sending clock across a pause.
    void AdvanceTimestamp(uint32_t samples) { m_timestamp += samples; }
    // Packets and payload octets handed to the network since construction or Restart (RFC
    // 3550 6.4.1 sender's packet and octet counts), mod 2^32: a send that failed counts in
    // neither.
    uint32_t PacketsSent() const { return m_packetsSent; }
    uint32_t Octets() const { return m_octets; }
    bool FirstPacketPending() const { return m_firstPacket != 0; }
    // The next packet carries the marker bit: another source takes over.
    void MarkNextPacket() { m_firstPacket = 1; }
    bool SocketReady() const { return m_socketReady != 0; }
    // Packets that could not be handed to the network (refused, unreachable, queue full).
    uint64_t SendErrors() const { return m_sendErrors; }
    const platform::UdpSocket& Socket() const { return m_socket; }

    // Lets tests start the counters near their wrap points; defined by the tests alone.
    friend class RtpProcessorTestPeer;

private:
    // The fields every packet touches come first, so that a fan-out over many senders
    // reads as few cache lines as it can.
    uint8_t m_header[kHeaderBytes] = {};
    uint32_t m_ssrc = kDefaultSsrc;  // the transmitter draws one at random for each run
    uint32_t m_sequence = 0;         // the wire carries its low 16 bits, plus m_sequenceBase
    uint16_t m_sequenceBase = 0;
    uint32_t m_timestamp = 0;
    uint32_t m_packetsSent = 0;
    uint32_t m_octets = 0;
    int m_lastLength = 0;   // the payload of the packet prepared last, counted once it left
    int m_firstPacket = 1;  // marker on the first packet, and at each change of source
    int m_socketReady = 0;  // 1 while the socket is open; opened on first send
    platform::UdpSocket m_socket;
    uint64_t m_sendErrors = 0;
};
