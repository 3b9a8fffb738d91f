#include "engine/winsonvex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "codec/formattags.h"
#include "platform/byteorder.h"

namespace {

constexpr uint32_t kRingBytes = 200000;
// Bounds on what an entry may ask the engine to allocate; a format claiming more is refused.
constexpr uint32_t kMaxChunkBytes = 16u << 20;
constexpr uint32_t kMaxDecodedBytes = 64u << 20;
constexpr int kPayloadTypePcmu = 0;  // RFC 3551
constexpr int kPayloadTypePcma = 8;  // RFC 3551
// G.711 codes of a zero sample (ITU-T G.711): what completes the last packet of a source.
constexpr uint8_t kSilenceMulaw = 0xFF;
constexpr uint8_t kSilenceAlaw = 0xD5;

std::unique_ptr<uint8_t[]> ZeroedBuffer(uint32_t bytes) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[bytes]());
}

}  // namespace

WinSonvex::WinSonvex() {
    m_dueNs.fill(kNoClock);
    for (const ACMFORMATTAGDETAILSA& tag : EnumerateFormatTags()) {
        if (tag.dwFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            ++m_mp3CodecCount;
        }
    }
    if (m_mp3CodecCount > 0) {
        acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &m_maxFormatSize);
        for (int i = 0; i < kSenderCount; ++i) {
            const auto n = static_cast<uint32_t>(i + 5);
            m_rtp[static_cast<size_t>(i)].SetSsrc(n * n);
        }
    }
}

WinSonvex::~WinSonvex() {
    CloseEntry();
}

bool WinSonvex::OpenEntry(const PlaylistFile& entry,
                          const std::vector<RtpDestination>& destinations) {
    CloseEntry();
    if (m_mp3CodecCount == 0) {
        return false;
    }
    m_entry = entry;
    m_destinations = destinations;
    // A group's hop limit and interface go to its sender before the entry's first packet.
    // A destination that must not be sent to now is left out of this entry: a group whose
    // interface is missing would otherwise leave by the routing table's choice.
    m_sendFaults.fill(destinationcheck::SendFault::None);
    const size_t senders = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < senders; ++i) {
        m_sendFaults[i] = destinationcheck::CheckSendable(m_destinations[i]);
        m_rtp[i].SetMulticastOptions(m_destinations[i].Ttl, m_destinations[i].Interface);
    }
    ChainPlan plan;
    if (!ValidateEntry(plan)) {
        return false;
    }
    if (!OpenChain(plan) || !SizeBuffers(plan)) {
        ReleaseEntry();
        return false;
    }
    m_payloadType = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kPayloadTypePcma : kPayloadTypePcmu;
    m_silence = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kSilenceAlaw : kSilenceMulaw;
    m_sourceState = SourceState::Reading;
    m_endOfSource = 0;
    m_payloadReady = false;
    m_clockRate = m_entry.DstSampleRate;
    return true;
}

bool WinSonvex::ValidateEntry(ChainPlan& plan) const {
    const SourceFormatInfo& src = m_entry.Source;
    WAVEFORMATEX source{};
    if (!ReadWaveFormat(src.format.get(), static_cast<size_t>(std::max(src.formatSize, 0)),
                        source) ||
        source.nChannels == 0 || source.nChannels > kMaxWaveChannels ||
        source.nSamplesPerSec == 0) {
        return false;
    }
    if (src.chunkBytes <= 0 || static_cast<uint32_t>(src.chunkBytes) > kMaxChunkBytes) {
        return false;  // a zero chunk would never end the source
    }
    // 64-bit: a stored rate and time may not overflow into a plausible size.
    const int64_t payload =
        static_cast<int64_t>(m_entry.DstPacketization) * m_entry.DstSampleRate / 1000;
    if (m_entry.DstPacketization <= 0 || payload <= 0 || payload > RtpProcessor::kMaxPayloadBytes) {
        return false;  // it would not fit the RTP packet buffer
    }
    WriteWaveFormat(Pcm16WaveFormat(source.nChannels, source.nSamplesPerSec), plan.decoded.data());
    WriteWaveFormat(Pcm16WaveFormat(1, static_cast<uint32_t>(m_entry.DstSampleRate)),
                    plan.mono.data());
    WAVEFORMATEX g711{};
    g711.wFormatTag = static_cast<uint16_t>(m_entry.DstFormat & 0xFFFF);
    g711.nChannels = 1;
    g711.nSamplesPerSec = static_cast<uint32_t>(m_entry.DstSampleRate);
    g711.nAvgBytesPerSec = g711.nSamplesPerSec;
    g711.nBlockAlign = 1;
    g711.wBitsPerSample = 8;
    WriteWaveFormat(g711, plan.g711.data());
    plan.frameBytes = source.nChannels * 2u;
    plan.chunkBytes = static_cast<uint32_t>(src.chunkBytes);
    plan.payloadBytes = static_cast<int>(payload);
    return true;
}

bool WinSonvex::OpenChain(const ChainPlan& plan) {
    const SourceFormatInfo& src = m_entry.Source;
    constexpr auto kRecordBytes = static_cast<uint32_t>(sizeof(WAVEFORMATEX));
    if (!m_decode.Open(src.format.get(), static_cast<uint32_t>(src.formatSize), plan.decoded.data(),
                       kRecordBytes) ||
        !m_resample.Open(plan.decoded.data(), kRecordBytes, plan.mono.data(), kRecordBytes) ||
        !m_encode.Open(plan.mono.data(), kRecordBytes, plan.g711.data(), kRecordBytes)) {
        return false;
    }
    SourceFormatInfo fresh;
    std::string description;
    if (!m_source.Open(src.path, fresh, description)) {
        return false;
    }
    // The chain was built from the format stored at probe time; a file that has changed
    // since then would be decoded with the wrong codec.
    return fresh.chunkBytes == src.chunkBytes && fresh.formatSize == src.formatSize &&
           std::memcmp(fresh.format.get(), src.format.get(), static_cast<size_t>(src.formatSize)) ==
               0;
}

bool WinSonvex::SizeBuffers(const ChainPlan& plan) {
    m_chunkBytes = plan.chunkBytes;
    m_payloadBytes = plan.payloadBytes;
    m_monoBytes = m_encode.SourceNeeded(static_cast<uint32_t>(m_payloadBytes));
    // Whole sample frames only: the gain works on 16-bit samples, and a frame split across
    // two packets would swap the channels of the next one.
    const uint32_t frame = plan.frameBytes;
    m_packetPcmBytes = (m_resample.SourceNeeded(m_monoBytes) + frame - 1) / frame * frame;
    m_decodedMax = m_decode.DestinationBound(m_chunkBytes);
    if (m_monoBytes == 0 || m_packetPcmBytes == 0 || m_packetPcmBytes > kMaxDecodedBytes ||
        m_decodedMax == 0 || m_decodedMax > kMaxDecodedBytes) {
        return false;
    }
    m_chunkBuf = ZeroedBuffer(m_chunkBytes);
    m_decodedBuf = ZeroedBuffer(m_decodedMax);
    m_packetPcmBuf = ZeroedBuffer(m_packetPcmBytes);
    m_monoBuf = ZeroedBuffer(m_monoBytes);
    m_payloadBuf = ZeroedBuffer(static_cast<uint32_t>(m_payloadBytes));
    m_decode.Prepare(m_chunkBuf.get(), m_chunkBytes, m_decodedBuf.get(), m_decodedMax);
    m_resample.Prepare(m_packetPcmBuf.get(), m_packetPcmBytes, m_monoBuf.get(), m_monoBytes);
    m_encode.Prepare(m_monoBuf.get(), m_monoBytes, m_payloadBuf.get(),
                     static_cast<uint32_t>(m_payloadBytes));
    // The refill stalls only when the ring holds no more than a packet and has no more
    // than a decoded chunk free, that is when capacity <= packet + chunk. One byte more
    // than that makes the state unreachable (one-second chunks of 44.1 kHz stereo PCM
    // with 160 ms packets need 204625 bytes).
    const uint64_t needed = static_cast<uint64_t>(m_packetPcmBytes) + m_decodedMax + 1;
    m_ring = std::make_unique<BufferCyclic>(
        static_cast<uint32_t>(std::max<uint64_t>(kRingBytes, needed)));
    return true;
}

uint32_t WinSonvex::DecodeNext() {
    if (m_sourceState == SourceState::Draining) {
        // Only what the decoder still holds; once it gives nothing, all is decoded.
        const uint32_t used = m_decode.Convert(0);
        if (used == 0) {
            m_sourceState = SourceState::Done;
        }
        return used;
    }
    const int got = m_source.Read(m_chunkBuf.get(), static_cast<int>(m_chunkBytes));
    if (got == static_cast<int>(m_chunkBytes)) {
        return m_decode.Convert();
    }
    // End of file or a read error: what came is decoded and the decoder drained.
    m_sourceState = SourceState::Draining;
    return m_decode.Convert(got > 0 ? static_cast<uint32_t>(got) : 0, true);
}

void WinSonvex::TopUp() {
    // Each pass either decodes a chunk (the source is finite), drains the decoder (which
    // holds a bounded amount) or leaves; the ring's sizing guarantees room for a chunk
    // whenever it holds no whole packet.
    while (m_ring->HeldBytes() <= m_packetPcmBytes && m_sourceState != SourceState::Done &&
           m_ring->FreeSpace() > m_decodedMax) {
        const uint32_t used = DecodeNext();
        if (used > 0) {
            m_ring->Write(m_decodedBuf.get(), used);
        }
    }
}

bool WinSonvex::ProducePacket() {
    if (!m_ring || m_endOfSource != 0) {
        return false;
    }
    // The previous tick left this packet's samples resampled; only the first tick of an
    // entry prepares them before it sends.
    if (!m_payloadReady && !PrepareSamples()) {
        if (m_sourceState == SourceState::Done) {
            m_endOfSource = 1;  // everything has been sent
        }
        return false;
    }
    EncodePayload();
    SendPayload();
    // The next packet's samples, and the chunk they need decoded, wait until the datagrams
    // are out.
    m_payloadReady = PrepareSamples();
    return true;
}

bool WinSonvex::PrepareSamples() {
    TopUp();
    if (m_ring->Read(m_packetPcmBuf.get(), m_packetPcmBytes) != 0) {
        m_resample.Convert();
        m_monoReady = m_monoBytes;
        return true;
    }
    if (m_sourceState != SourceState::Done) {
        return false;
    }
    // After the last whole packet: what the ring held back, then what the rate converter
    // holds (its filter's tail), in as many packets as that takes.
    const uint32_t pcmBytes = m_ring->Drain(m_packetPcmBuf.get(), m_packetPcmBytes);
    m_monoReady = m_resample.Convert(pcmBytes, true);
    return m_monoReady > 0;
}

void WinSonvex::EncodePayload() {
    ApplyGain(m_monoReady);
    const uint32_t encoded = m_encode.Convert(m_monoReady);
    // The packet keeps the entry's size: silence completes a short one.
    const auto payload = static_cast<uint32_t>(m_payloadBytes);
    if (encoded < payload) {
        std::memset(m_payloadBuf.get() + encoded, m_silence, payload - encoded);
    }
}

void WinSonvex::ApplyGain(uint32_t monoBytes) {
    const double gain = m_gain.load(std::memory_order_relaxed);
    if (gain == 1.0) {
        return;  // 0 dB leaves the samples as they are
    }
    uint8_t* pcm = m_monoBuf.get();
    for (uint32_t i = 0; i + 1 < monoBytes; i += 2) {
        // Truncated toward zero, then held at the 16-bit limits instead of wrapping.
        double product = std::trunc(platform::LoadLe16s(pcm + i) * gain);
        product = std::clamp(product, static_cast<double>(std::numeric_limits<int16_t>::min()),
                             static_cast<double>(std::numeric_limits<int16_t>::max()));
        platform::StoreLe16s(pcm + i, static_cast<int16_t>(product));
    }
}

void WinSonvex::FollowTickClock(size_t i) {
    constexpr int64_t kNsPerSecond = 1000000000;
    const int64_t rate = std::max<int32_t>(m_clockRate, 1);
    int64_t& due = m_dueNs[i];
    if (due == kNoClock) {
        due = m_tickNs;
    } else if (m_tickNs > due) {
        // Whole sampling instants only; the fraction stays in `due` for the next pause. In
        // two parts, so that a pause of weeks does not overflow.
        const int64_t gap = m_tickNs - due;
        const int64_t skipped =
            gap / kNsPerSecond * rate + gap % kNsPerSecond * rate / kNsPerSecond;
        m_rtp[i].AdvanceTimestamp(static_cast<uint32_t>(skipped));
        due += skipped / rate * kNsPerSecond + skipped % rate * kNsPerSecond / rate;
    } else if (m_tickNs < due - kNsPerSecond) {
        due = m_tickNs;  // another clock than the last packets' (a test's): start afresh
    }
    due += static_cast<int64_t>(m_payloadBytes) * kNsPerSecond / rate;
}

void WinSonvex::SendPayload() {
    const size_t count = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < count; ++i) {
        if (m_sendFaults[i] != destinationcheck::SendFault::None) {
            continue;
        }
        const RtpDestination& dest = m_destinations[i];
        FollowTickClock(i);
        m_rtp[i].SendPacket(m_payloadBuf.get(), m_payloadBytes, dest.IP,
                            static_cast<int>(dest.Port), m_payloadType);
    }
}

void WinSonvex::CloseEntry() {
    if (m_ring) {
        ReleaseEntry();
    }
}

void WinSonvex::ReleaseEntry() {
    m_source.Close();
    m_decode.Release();
    m_resample.Release();
    m_encode.Release();
    m_payloadBuf.reset();
    m_monoBuf.reset();
    m_packetPcmBuf.reset();
    m_decodedBuf.reset();
    m_chunkBuf.reset();
    m_ring.reset();
    m_chunkBytes = 0;
    m_decodedMax = 0;
    m_packetPcmBytes = 0;
    m_monoBytes = 0;
    m_payloadBytes = 0;
    m_payloadReady = false;
    m_monoReady = 0;
}

bool WinSonvex::ProbeSource(const char* path, SourceFormatInfo& info, std::string& text) {
    AudioSourceFile file;
    if (!file.Open(path, info, text)) {
        return false;
    }
    file.Close();
    return true;
}

void WinSonvex::SetVolumeDb(int dB) {
    m_gain.store(std::pow(10.0, dB / 20.0), std::memory_order_relaxed);
}
