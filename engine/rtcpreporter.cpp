#include "engine/rtcpreporter.h"

#include <algorithm>

#include "engine/rtcppackets.h"
#include "engine/transmitter.h"

namespace {
constexpr int64_t kNsPerSecond = 1000000000;
}  // namespace

void RtcpReporter::Start(const std::vector<RtpDestination>& destinations, const std::string& cname,
                         int64_t nowNs) {
    m_cname = cname.substr(0, rtcp::kMaxCnameBytes);
    m_random.seed(static_cast<uint32_t>(nowNs ^ (nowNs >> 32)));
    // Sockets do not move: every position is made now, and Add fills the next one.
    m_targets = std::vector<Target>(Transmitter::kSenderCount);
    m_count = 0;
    m_active = true;
    for (const RtpDestination& destination : destinations) {
        Add(destination, nowNs);
    }
}

void RtcpReporter::Add(const RtpDestination& destination, int64_t nowNs) {
    if (!m_active || m_count >= m_targets.size()) {
        return;
    }
    Target& target = m_targets[m_count++];
    target.destination = destination;
    target.dueNs = nowNs + NextInterval();
    if (destination.Port == 0 || destination.Port >= 65535 || destination.Mode == kModePolycom) {
        return;  // no port + 1, or no RTP to report on: no reports
    }
    if (target.socket.Open()) {
        target.socket.SetMulticastTtl(static_cast<int>(destination.Ttl));
        target.socket.SetMulticastInterface(destination.Interface);
    }
}

int64_t RtcpReporter::NextInterval() {
    // RFC 3550 6.3.1: the interval times a random factor in [0.5, 1.5], so that senders
    // started together do not report together.
    std::uniform_int_distribution<int64_t> spread(kIntervalNs / 2, kIntervalNs * 3 / 2);
    return spread(m_random);
}

void RtcpReporter::Tick(const Transmitter& transmitter, int64_t tickNs, int64_t wallNs) {
    if (!m_active) {
        return;
    }
    for (size_t i = 0; i < m_count; ++i) {
        if (tickNs >= m_targets[i].dueNs) {
            Report(transmitter, i, tickNs, wallNs, false);
            m_targets[i].dueNs = tickNs + NextInterval();
        }
    }
}

void RtcpReporter::Stop(const Transmitter& transmitter, int64_t tickNs, int64_t wallNs) {
    if (!m_active) {
        return;
    }
    for (size_t i = 0; i < m_count; ++i) {
        Report(transmitter, i, tickNs, wallNs, true);
    }
    m_targets.clear();
    m_count = 0;
    m_active = false;
}

void RtcpReporter::Report(const Transmitter& transmitter, size_t i, int64_t tickNs, int64_t wallNs,
                          bool bye) {
    Target& target = m_targets[i];
    const RtpProcessor& rtp = transmitter.Sender(i);
    const int64_t dueNs = transmitter.TimestampDueNs(i);
    if (!target.socket.IsOpen() || dueNs == Transmitter::kNoClock || rtp.Sequence() == 0 ||
        transmitter.Fault(i) != destinationcheck::SendFault::None) {
        return;
    }
    if (!target.bound) {
        // From the port above the RTP socket's, as RFC 3550 11 pairs them; the system's
        // choice when another socket holds it (receivers take reports from any port).
        const uint16_t rtpPort = rtp.Socket().LocalPort();
        if (rtpPort != 0 && rtpPort < 65535) {
            target.socket.Bind(static_cast<uint16_t>(rtpPort + 1));
        }
        target.socket.Connect(target.destination.IP,
                              static_cast<uint16_t>((target.destination.Port & 0xFFFF) + 1));
        target.bound = true;
    }
    // The sender's next timestamp falls due at dueNs; the report's instant is tickNs.
    const int64_t rate = std::max<int32_t>(transmitter.ClockRate(), 1);
    const int64_t offsetNs = tickNs - dueNs;
    const int64_t samples =
        offsetNs / kNsPerSecond * rate + offsetNs % kNsPerSecond * rate / kNsPerSecond;
    rtcp::SenderInfo info;
    info.ssrc = rtp.Ssrc();
    info.ntp = rtcp::NtpFromUnixNs(wallNs);
    info.rtpTimestamp = rtp.Timestamp() + static_cast<uint32_t>(samples);
    info.packets = rtp.PacketsSent();
    info.octets = rtp.Octets();
    uint8_t* out = m_packet.data();
    size_t size = rtcp::WriteSenderReport(info, out, m_packet.size());
    size += rtcp::WriteCname(info.ssrc, m_cname, out + size, m_packet.size() - size);
    if (bye) {
        size += rtcp::WriteBye(info.ssrc, out + size, m_packet.size() - size);
    }
    target.socket.Send(out, size);
}
