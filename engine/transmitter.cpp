#include "engine/transmitter.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/polycompackets.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// The most a run's end waits for a Polycom session's tail: the audio still in its ring behind
// the Alert burst (about a second), the gap and the Ends.
constexpr int64_t kPolycomDrainNs = 3 * kNsPerSecond;

bool SameDestination(const RtpDestination& a, const RtpDestination& b) {
    return a.IP == b.IP && a.Port == b.Port && a.Ttl == b.Ttl &&
           std::strcmp(a.Interface, b.Interface) == 0 && a.Mode == b.Mode &&
           a.ControlIP == b.ControlIP && a.ControlPort == b.ControlPort && a.Channel == b.Channel &&
           a.Serial == b.Serial && a.FollowPriority == b.FollowPriority &&
           std::strncmp(a.CallerId, b.CallerId, sizeof a.CallerId) == 0;
}

// RFC 3550 6.5.1: user@host, the same for every sender of this machine.
std::string Cname() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "localhost");
    }
    return std::string("sonvex@") + host;
}

}  // namespace

Transmitter::Transmitter() : m_random(std::random_device{}()) {
    m_dueNs.fill(kNoClock);
    DrawIdentities();
}

Transmitter::~Transmitter() {
    StopControls();
}

void Transmitter::DrawIdentities() {
    // RFC 3550 8.1: an SSRC chosen at random, so that two sources meeting at one receiver
    // (two runs, two machines, a restarted service whose packets are still in flight) are
    // told apart; the first sequence number and timestamp at random too (5.1). The senders of
    // one run are distinct among themselves: their receivers may be one host.
    for (size_t i = 0; i < m_senders.size(); ++i) {
        uint32_t ssrc = 0;
        bool taken = true;
        while (taken) {
            ssrc = static_cast<uint32_t>(m_random());
            taken = ssrc == 0 ||
                    std::any_of(m_senders.begin(), m_senders.begin() + i,
                                [ssrc](const RtpProcessor& s) { return s.Ssrc() == ssrc; });
        }
        m_senders[i].Restart(ssrc, static_cast<uint16_t>(m_random()),
                             static_cast<uint32_t>(m_random()));
        m_dueNs[i] = kNoClock;
    }
}

void Transmitter::Begin(const Playlist& run, const std::string& name, int64_t nowNs,
                        int64_t wallNs) {
    End(nowNs, wallNs);
    DrawIdentities();
    m_checked = false;
    m_shared = false;
    UseDestinations(run.Destinations);
    if (run.RtcpReports != 0) {
        m_rtcp.Start(m_destinations, Cname(), nowNs);
    }
    std::array<uint32_t, kSenderCount> ssrcs{};
    for (size_t i = 0; i < ssrcs.size(); ++i) {
        ssrcs[i] = m_senders[i].Ssrc();
    }
    // The SDP's version: the wall clock's seconds, new for every run.
    m_sap.Start(name, run, static_cast<uint64_t>(wallNs / kNsPerSecond), ssrcs.data(),
                m_faults.data());
    m_running = true;
}

void Transmitter::BeginShared(const std::vector<RtpDestination>& destinations, const Extras& extras,
                              int64_t nowNs, int64_t wallNs) {
    End(nowNs, wallNs);
    DrawIdentities();
    m_checked = false;
    UseDestinations(destinations);
    if (extras.rtcp) {
        m_rtcp.Start({}, Cname(), nowNs);
    }
    // The SDP's version: the wall clock's seconds, and one more at each change of codec.
    m_sap.Follow(extras.name, extras.sap, extras.ptimeMs, extras.rtcp,
                 static_cast<uint64_t>(wallNs / kNsPerSecond));
    m_shared = true;
    m_running = true;
    m_extended = 0;
    Extend(nowNs);
}

void Transmitter::Grow(const std::vector<RtpDestination>& destinations, int64_t nowNs) {
    UseDestinations(destinations);
    if (m_running && m_shared) {
        Extend(nowNs);
    }
}

void Transmitter::Extend(int64_t nowNs) {
    for (; m_extended < m_count; ++m_extended) {
        const size_t i = m_extended;
        m_rtcp.Add(m_destinations[i], nowNs);
        m_sap.Add(i, m_destinations[i], m_senders[i].Ssrc(), m_faults[i]);
    }
}

void Transmitter::UseDestinations(const std::vector<RtpDestination>& destinations) {
    const bool same = m_checked && destinations.size() == m_destinations.size() &&
                      std::equal(destinations.begin(), destinations.end(), m_destinations.begin(),
                                 SameDestination);
    if (!same) {
        // A started SPA receiver that is not in the new list where it was hears its stop.
        for (size_t i = 0; i < m_count; ++i) {
            if (m_started[i] != 0 && (i >= destinations.size() ||
                                      !SameDestination(destinations[i], m_destinations[i]))) {
                SendControl(i, spa::Command::kStop);
            }
        }
        m_destinations = destinations;
        m_count = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
        Prepare();
        return;
    }
    // The same list: only a change of the machine's interfaces (a group's interface that
    // went down or came back, an address whose network changed) asks for a new check.
    if (m_interfaces.Changed()) {
        Prepare();
    }
}

void Transmitter::Prepare() {
    // The interfaces are read once for all destinations; a group whose interface is missing
    // would otherwise leave by the routing table's choice, so it is left out instead.
    const platform::InterfaceSnapshot interfaces = platform::InterfaceSnapshot::Take();
    m_interfaces.Changed();  // what the snapshot already saw
    for (size_t i = 0; i < m_count; ++i) {
        const RtpDestination& d = m_destinations[i];
        m_faults[i] = destinationcheck::CheckSendable(d, interfaces);
        RtpProcessor& sender = m_senders[i];
        sender.SetMulticastOptions(d.Ttl, d.Interface);
        if (m_faults[i] == destinationcheck::SendFault::None) {
            // Opened and connected before the first packet, not in its tick.
            sender.Connect(d.IP, static_cast<int>(d.Port));
            if (d.Mode == kModePolycom && !m_polycom[i]) {
                m_polycom[i] = std::make_unique<PolycomSender>();
                if (!m_polycom[i]->Start(d)) {
                    m_polycom[i].reset();
                }
            }
            if (d.Mode == kModeSpa) {
                platform::UdpSocket& control = m_control[i];
                control.SetMulticastTtl(static_cast<int>(d.Ttl));
                control.SetMulticastInterface(d.Interface);
                if (control.IsOpen() || control.Open()) {
                    control.Connect(d.ControlIP, static_cast<uint16_t>(d.ControlPort & 0xFFFF));
                }
            }
        }
    }
    m_checked = true;
}

size_t Transmitter::Send(const uint8_t* payload, int length, int payloadType, int64_t instantNs,
                         int32_t rate) {
    return SendTo(payload, length, payloadType, instantNs, rate, nullptr);
}

size_t Transmitter::SendTo(const uint8_t* payload, int length, int payloadType, int64_t instantNs,
                           int32_t rate, const uint8_t* wanted) {
    m_clockRate = std::max<int32_t>(rate, 1);
    for (size_t i = 0; i < m_count; ++i) {
        m_sendMask[i] = m_faults[i] == destinationcheck::SendFault::None &&
                                (wanted == nullptr || wanted[i] != 0)
                            ? 1
                            : 0;
        if (m_sendMask[i] != 0 && m_destinations[i].Mode == kModePolycom) {
            if (m_polycom[i]) {
                m_polycom[i]->Push(payload, length, payloadType);
            }
            m_sendMask[i] = 0;  // no RTP to it
        } else if (m_sendMask[i] != 0) {
            FollowClock(i, instantNs, length);
            m_sap.Sending(i, payloadType);
            if (m_destinations[i].Mode == kModeSpa && m_started[i] == 0) {
                SendControl(i, spa::Command::kStart);  // before the RTP packet
            }
        }
    }
    return m_fanOut.Send(m_senders.data(), m_destinations.data(), m_count, payload, length,
                         payloadType, m_sendMask.data());
}

void Transmitter::FollowClock(size_t i, int64_t instantNs, int length) {
    const int64_t rate = m_clockRate;
    int64_t& due = m_dueNs[i];
    if (due == kNoClock) {
        due = instantNs;
    } else if (instantNs > due) {
        // Whole sampling instants only; the fraction stays in `due` for the next pause. In
        // two parts, so that a pause of weeks does not overflow.
        const int64_t gap = instantNs - due;
        const int64_t skipped =
            gap / kNsPerSecond * rate + gap % kNsPerSecond * rate / kNsPerSecond;
        m_senders[i].AdvanceTimestamp(static_cast<uint32_t>(skipped));
        due += skipped / rate * kNsPerSecond + skipped % rate * kNsPerSecond / rate;
    } else if (instantNs < due - kNsPerSecond) {
        due = instantNs;  // another clock than the last packets' (a test's): start afresh
    }
    // A packet a little early continues the timestamps: its samples follow the last ones.
    due += static_cast<int64_t>(length) * kNsPerSecond / rate;
}

void Transmitter::MarkChange() {
    for (size_t i = 0; i < m_count; ++i) {
        m_senders[i].MarkNextPacket();
    }
}

void Transmitter::MarkChange(size_t index) {
    if (index < m_count) {
        m_senders[index].MarkNextPacket();
    }
}

void Transmitter::HolderPriority(size_t index, int priority) {
    if (index < m_count && m_polycom[index] && m_destinations[index].FollowPriority != 0) {
        m_polycom[index]->SetChannel(polycom::ChannelFor(m_destinations[index].Channel, priority));
    }
}

void Transmitter::Quiet(size_t index) {
    if (index < m_count && m_started[index] != 0) {
        SendControl(index, spa::Command::kStop);
    }
    if (index < m_count && m_polycom[index]) {
        m_polycom[index]->Finish();
    }
}

void Transmitter::SendControl(size_t i, spa::Command command) {
    const RtpDestination& d = m_destinations[i];
    uint8_t packet[spa::kPacketBytes];
    // The sender's SSRC identifies the stream: new for every run, distinct among its senders.
    spa::WritePacket(packet, m_senders[i].Ssrc(), command, d.IP,
                     static_cast<uint16_t>(d.Port & 0xFFFF));
    for (int k = 0; k < spa::kRepeats; ++k) {
        m_control[i].Send(packet, sizeof packet);  // a lost one is what the repeat is for
    }
    m_started[i] = command == spa::Command::kStart ? 1 : 0;
}

void Transmitter::StopControls() {
    for (size_t i = 0; i < m_count; ++i) {
        if (m_started[i] != 0) {
            SendControl(i, spa::Command::kStop);
        }
        if (m_polycom[i]) {
            m_polycom[i]->Finish();  // every session's tail goes out at once
        }
    }
    for (auto& sender : m_polycom) {
        if (sender) {
            sender->Drain(kPolycomDrainNs);
            sender.reset();
        }
    }
}

void Transmitter::Tick(int64_t nowNs, int64_t wallNs) {
    if (!m_running) {
        return;
    }
    m_rtcp.Tick(*this, nowNs, wallNs);
    m_sap.Tick(nowNs);
}

void Transmitter::End(int64_t nowNs, int64_t wallNs) {
    StopControls();  // a transmitter fed without Begin (the file engine's tests) starts them too
    if (!m_running) {
        return;
    }
    m_running = false;
    m_shared = false;
    m_rtcp.Stop(*this, nowNs, wallNs);
    m_sap.Stop();
}
