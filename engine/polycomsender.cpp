#include "engine/polycomsender.h"

#include <cstring>
#include <system_error>

#include "codec/g711.h"
#include "platform/monotonicclock.h"
#include "platform/threadpriority.h"

namespace {

constexpr int kPayloadTypePcma = 8;  // RFC 3551
constexpr int kPayloadTypeG722 = 9;
constexpr int64_t kIdleWaitNs = 1000000000;

}  // namespace

PolycomSender::~PolycomSender() {
    Stop();
}

bool PolycomSender::Start(const RtpDestination& destination) {
    Stop();
    m_identity = polycom::Sender{};
    m_identity.channel = static_cast<uint8_t>(destination.Channel);
    m_identity.serial = destination.Serial;
    std::memcpy(m_identity.callerId, destination.CallerId, polycom::kCallerIdBytes);
    m_socket.SetMulticastTtl(static_cast<int>(destination.Ttl));
    m_socket.SetMulticastInterface(destination.Interface);
    if (!m_wake.Ok() || !(m_socket.IsOpen() || m_socket.Open()) ||
        !m_socket.Connect(destination.IP, static_cast<uint16_t>(destination.Port & 0xFFFF))) {
        return false;
    }
    m_stop.store(false, std::memory_order_relaxed);
    m_finishAt.store(UINT64_MAX, std::memory_order_relaxed);
    m_partialBytes = 0;
    m_channel = m_identity.channel;
    m_latestChannel.store(m_channel, std::memory_order_relaxed);
    m_movedAt.store(0, std::memory_order_relaxed);
    try {
        m_thread = std::thread(&PolycomSender::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void PolycomSender::Push(const uint8_t* payload, int length, int payloadType) {
    if (!m_thread.joinable() || payload == nullptr || length <= 0) {
        return;
    }
    const polycom::Codec codec =
        payloadType == kPayloadTypeG722 ? polycom::Codec::kG722 : polycom::Codec::kMulaw;
    for (int at = 0; at < length; ++at) {
        // A-law goes out as mu-law: the phones take mu-law and G.722 only.
        m_partial.bytes[m_partialBytes++] = payloadType == kPayloadTypePcma
                                                ? G711LinearToMulaw(G711AlawToLinear(payload[at]))
                                                : payload[at];
        if (m_partialBytes == polycom::kFrameBytes) {
            Queue(codec);
            m_partialBytes = 0;
        }
    }
}

void PolycomSender::SetChannel(int channel) {
    if (channel < polycom::kMinChannel || channel > polycom::kMaxChannel || channel == m_channel) {
        return;
    }
    m_channel = static_cast<uint8_t>(channel);
    m_partialBytes = 0;
    m_latestChannel.store(channel, std::memory_order_relaxed);
    m_movedAt.store(m_written.load(std::memory_order_relaxed), std::memory_order_release);
}

void PolycomSender::Queue(polycom::Codec codec) {
    const uint64_t written = m_written.load(std::memory_order_relaxed);
    // Acquire: the thread has finished with the slot it freed.
    if (written - m_read.load(std::memory_order_acquire) >= kRingFrames) {
        ++m_dropped;
        return;
    }
    Frame& slot = m_ring[written % kRingFrames];
    slot.codec = codec;
    slot.channel = m_channel;  // published with the frame, by the release below
    std::memcpy(slot.bytes, m_partial.bytes, polycom::kFrameBytes);
    // More audio: an end asked for earlier is called off (a session still sending goes on).
    m_finishAt.store(UINT64_MAX, std::memory_order_relaxed);
    m_written.store(written + 1, std::memory_order_release);
    if (!m_sessionOn.load(std::memory_order_relaxed)) {
        m_wake.Signal();  // idle: a session begins
    }
}

void PolycomSender::Finish() {
    m_partialBytes = 0;  // a part-frame is not sent
    // Release: a thread that sees the end sees every frame before it.
    m_finishAt.store(m_written.load(std::memory_order_relaxed), std::memory_order_release);
    m_wake.Signal();
}

void PolycomSender::Drain(int64_t timeoutNs) {
    if (!m_thread.joinable()) {
        return;
    }
    Finish();
    const int64_t until = platform::MonotonicNowNs() + timeoutNs;
    // The session is over once every frame is sent and the thread is idle again.
    while (platform::MonotonicNowNs() < until &&
           (m_sessionOn.load(std::memory_order_acquire) ||
            m_read.load(std::memory_order_acquire) < m_written.load(std::memory_order_relaxed))) {
        platform::SleepUntilNs(platform::MonotonicNowNs() + 5000000);
    }
    Stop();
}

void PolycomSender::Stop() {
    if (m_thread.joinable()) {
        m_stop.store(true, std::memory_order_relaxed);
        m_wake.Signal();
        m_thread.join();
    }
    m_sessionOn.store(false, std::memory_order_relaxed);
}

void PolycomSender::Run() {
    platform::RaiseCurrentThreadPriority();
    PolycomSession session;
    polycom::Sender identity = m_identity;  // of the session on now
    uint8_t packet[polycom::kMaxPacketBytes];
    uint32_t sample = 0;
    while (!m_stop.load(std::memory_order_relaxed)) {
        uint64_t read = m_read.load(std::memory_order_relaxed);
        if (!m_sessionOn.load(std::memory_order_relaxed)) {
            if (m_written.load(std::memory_order_acquire) == read) {
                m_wake.WaitUntilNs(platform::MonotonicNowNs() + kIdleWaitNs);
                continue;
            }
            identity.channel = m_ring[read % kRingFrames].channel;
            session.Start(identity, m_ring[read % kRingFrames].codec, platform::MonotonicNowNs(),
                          sample);
            m_sessionOn.store(true, std::memory_order_release);
        }
        // An absolute sleep (no drift, no slack of a relative timeout); Stop waits at most one
        // step, 64 ms.
        platform::SleepUntilNs(session.DueNs());
        const uint64_t movedAt = m_movedAt.load(std::memory_order_acquire);
        const int latest = m_latestChannel.load(std::memory_order_relaxed);
        if (read < movedAt &&
            polycom::ChannelRank(latest) > polycom::ChannelRank(identity.channel)) {
            read = movedAt;  // the old holder's audio is dropped, its slots freed
            m_read.store(read, std::memory_order_release);
        }
        const bool have = m_written.load(std::memory_order_acquire) > read;
        // A frame for another channel ends this session: the next one is its own.
        const bool moved = have && m_ring[read % kRingFrames].channel != identity.channel;
        const uint8_t* frame = nullptr;
        if (session.WantsFrame() && have && !moved) {
            session.SetCodec(m_ring[read % kRingFrames].codec);
            frame = m_ring[read % kRingFrames].bytes;
        }
        // Over once the frames before the end are all out.
        const bool ending = moved || m_finishAt.load(std::memory_order_acquire) <=
                                         read + (frame != nullptr ? 1 : 0);
        const size_t length = session.Step(platform::MonotonicNowNs(), frame, ending, packet);
        if (frame != nullptr && length > 0) {
            m_read.store(read + 1, std::memory_order_release);  // the slot is free
        }
        if (length > 0) {
            m_socket.Send(packet, length);  // a lost datagram is what the redundant frame is for
        }
        if (session.CurrentPhase() == PolycomSession::Phase::kDone) {
            sample = session.NextSample();
            m_sessionOn.store(false, std::memory_order_release);
        }
    }
}
