#include "engine/rtpprocessor.h"

#include <string>

#include "platform/byteorder.h"

namespace {

// RFC 3550 5.1: version 2, no padding, no extension, no CSRC.
constexpr uint8_t kVersionByte = 0x80;
constexpr uint8_t kMarkerBit = 0x80;
constexpr uint8_t kPayloadTypeMask = 0x7F;

}  // namespace

RtpProcessor::RtpProcessor() = default;

RtpProcessor::~RtpProcessor() = default;

void RtpProcessor::SetMulticastOptions(uint32_t ttl, const char* interfaceName) {
    m_socket.SetMulticastTtl(static_cast<int>(ttl));
    m_socket.SetMulticastInterface(interfaceName == nullptr ? std::string() : interfaceName);
}

int RtpProcessor::SendPacket(const uint8_t* payload, int length, uint32_t ip, int port,
                             int payloadType) {
    if (!PreparePacket(payload, length, ip, port, payloadType)) {
        return -1;
    }
    const int sent = m_socket.Send(m_header, kHeaderBytes, payload, static_cast<size_t>(length));
    CountSend(sent);
    return sent;
}

bool RtpProcessor::Connect(uint32_t ip, int port) {
    if (!m_socket.IsOpen()) {
        m_socket.Open();
    }
    m_socketReady = m_socket.IsOpen() ? 1 : 0;
    const auto port16 = static_cast<uint16_t>(port & 0xFFFF);
    return m_socketReady != 0 &&
           (m_socket.IsConnectedTo(ip, port16) || m_socket.Connect(ip, port16));
}

bool RtpProcessor::PreparePacket(const uint8_t* payload, int length, uint32_t ip, int port,
                                 int payloadType) {
    // A payload too long for one datagram is refused before anything moves.
    if (length < 0 || length > kMaxPayloadBytes || (payload == nullptr && length > 0)) {
        return false;
    }
    // A socket that could not be created is tried again on the next packet rather than
    // leaving the sender mute for the rest of its life.
    if (!m_socket.IsOpen()) {
        m_socket.Open();
    }
    m_socketReady = m_socket.IsOpen() ? 1 : 0;
    const auto port16 = static_cast<uint16_t>(port & 0xFFFF);
    if (m_socketReady != 0 && !m_socket.IsConnectedTo(ip, port16)) {
        m_socket.Connect(ip, port16);  // refused (no route): tried again on the next packet
    }

    uint8_t* header = m_header;
    header[0] = kVersionByte;
    header[1] = static_cast<uint8_t>(((m_firstPacket & 1) != 0 ? kMarkerBit : 0) |
                                     (static_cast<uint32_t>(payloadType) & kPayloadTypeMask));
    ++m_sequence;
    platform::StoreBe16(header + 2, static_cast<uint16_t>((m_sequence + m_sequenceBase) & 0xFFFF));
    // The timestamp counts payload bytes sent before this packet (one byte per sample of
    // 8-bit mono G.711, so a sample clock at the output rate, RFC 3551 4.5.14) and the
    // instants the engine skipped while nothing was sent.
    platform::StoreBe32(header + 4, m_timestamp);
    m_timestamp += static_cast<uint32_t>(length);
    m_lastLength = length;
    platform::StoreBe32(header + 8, m_ssrc);
    m_firstPacket = 0;
    return true;
}

void RtpProcessor::CountSend(int sent) {
    // The sequence and timestamp have advanced either way; the reports count what left.
    if (sent < 0) {
        ++m_sendErrors;
        return;
    }
    ++m_packetsSent;
    m_octets += static_cast<uint32_t>(m_lastLength);
}

void RtpProcessor::Restart(uint32_t ssrc, uint16_t sequence, uint32_t timestamp) {
    m_ssrc = ssrc;
    m_sequence = 0;
    // The first packet after this carries `sequence`: the count is incremented before use.
    m_sequenceBase = static_cast<uint16_t>(sequence - 1);
    m_timestamp = timestamp;
    m_packetsSent = 0;
    m_octets = 0;
    m_firstPacket = 1;
}
