#include "engine/winsonvex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "codec/formattags.h"
#include "media/sourceprobe.h"
#include "platform/byteorder.h"

namespace {

constexpr uint32_t kRingBytes = 200000;
// Bounds on what an entry may ask the engine to allocate; a format claiming more is refused.
constexpr uint32_t kMaxChunkBytes = 16u << 20;
constexpr int kPayloadTypePcmu = 0;  // RFC 3551
constexpr int kPayloadTypePcma = 8;  // RFC 3551
// G.711 codes of a zero sample (ITU-T G.711): what completes the last packet of a source.
constexpr uint8_t kSilenceMulaw = 0xFF;
constexpr uint8_t kSilenceAlaw = 0xD5;

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

void WinSonvex::UseDestinations(const std::vector<RtpDestination>& destinations,
                                bool markFirstPacket) {
    m_destinations = destinations;
    // A group's hop limit and interface go to its sender before the entry's first packet.
    // A destination that must not be sent to now is left out of this entry: a group whose
    // interface is missing would otherwise leave by the routing table's choice.
    m_sendFaults.fill(destinationcheck::SendFault::None);
    const size_t senders = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < senders; ++i) {
        m_sendFaults[i] = destinationcheck::CheckSendable(m_destinations[i]);
        m_rtp[i].SetMulticastOptions(m_destinations[i].Ttl, m_destinations[i].Interface);
        if (markFirstPacket) {
            m_rtp[i].MarkNextPacket();
        }
    }
}

bool WinSonvex::OpenEntry(const PlaylistFile& entry,
                          const std::vector<RtpDestination>& destinations,
                          std::unique_ptr<platform::ByteSource> bytes) {
    CloseEntry();
    if (m_mp3CodecCount == 0) {
        return false;
    }
    m_entry = entry;
    UseDestinations(destinations, false);
    ChainPlan plan;
    if (!ValidateEntry(plan)) {
        return false;
    }
    if (!OpenChain(plan, std::move(bytes)) || !SizeBuffers(plan)) {
        ReleaseEntry();
        return false;
    }
    m_payloadType = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kPayloadTypePcma : kPayloadTypePcmu;
    m_silence = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kSilenceAlaw : kSilenceMulaw;
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

bool WinSonvex::OpenChain(const ChainPlan& plan, std::unique_ptr<platform::ByteSource> bytes) {
    const SourceFormatInfo& src = m_entry.Source;
    if (!m_chain.OpenStages(src.format.get(), static_cast<uint32_t>(src.formatSize),
                            plan.g711.data(), static_cast<uint32_t>(plan.g711.size()))) {
        return false;
    }
    SourceFormatInfo fresh;
    std::string description;
    const bool opened = bytes ? m_chain.OpenSource(std::move(bytes), src.path, fresh, description)
                              : m_chain.OpenSource(src.path, fresh, description);
    if (!opened) {
        return false;
    }
    // The chain was built from the format stored at probe time; a file that has changed
    // since then would be decoded with the wrong codec.
    return fresh.chunkBytes == src.chunkBytes && fresh.formatSize == src.formatSize &&
           std::memcmp(fresh.format.get(), src.format.get(), static_cast<size_t>(src.formatSize)) ==
               0;
}

bool WinSonvex::SizeBuffers(const ChainPlan& plan) {
    const CodecChain::Sizes sizes = m_chain.SizesFromPacket(
        plan.chunkBytes, static_cast<uint32_t>(plan.payloadBytes), plan.frameBytes);
    if (!m_chain.Prepare(sizes)) {
        return false;
    }
    m_payloadBytes = plan.payloadBytes;
    m_packetPcmBytes = sizes.pcm;
    m_decodedMax = sizes.decoded;
    // The refill stalls only when the ring holds no more than a packet and has no more
    // than a decoded chunk free, that is when capacity <= packet + chunk. One byte more
    // than that makes the state unreachable (one-second chunks of 44.1 kHz stereo PCM
    // with 160 ms packets need 204625 bytes).
    const uint64_t needed = static_cast<uint64_t>(m_packetPcmBytes) + m_decodedMax + 1;
    m_ring = std::make_unique<BufferCyclic>(
        static_cast<uint32_t>(std::max<uint64_t>(kRingBytes, needed)));
    return true;
}

void WinSonvex::TopUp() {
    // Each pass either decodes a chunk (the source is finite), drains the decoder (which
    // holds a bounded amount) or leaves; the ring's sizing guarantees room for a chunk
    // whenever it holds no whole packet.
    while (m_ring->HeldBytes() <= m_packetPcmBytes && !m_chain.AllDecoded() &&
           m_ring->FreeSpace() > m_decodedMax) {
        const int64_t used = m_chain.DecodeNext();
        if (used > 0) {
            m_ring->Write(m_chain.Decoded(), static_cast<uint32_t>(used));
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
        if (m_chain.AllDecoded()) {
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
    while (m_ring->Read(m_chain.Pcm(), m_packetPcmBytes) != 0) {
        // A rate converter yields nothing at the start of a file until its output covers a
        // packet past its filter's delay: the first packet then starts with the file's first
        // sample. Each pass takes a packet of PCM from the finite source.
        m_monoReady = m_chain.Resample(m_packetPcmBytes);
        if (m_monoReady != 0) {
            return true;
        }
        TopUp();
    }
    if (!m_chain.AllDecoded()) {
        return false;
    }
    // After the last whole packet: what the ring held back, then what the rate converter
    // holds (its filter's tail), in as many packets as that takes.
    const uint32_t pcmBytes = m_ring->Drain(m_chain.Pcm(), m_packetPcmBytes);
    m_monoReady = m_chain.Resample(pcmBytes, true);
    return m_monoReady > 0;
}

void WinSonvex::EncodePayload() {
    ApplyGain(m_monoReady);
    const uint32_t encoded = m_chain.EncodeMix(m_monoReady);
    // The packet keeps the entry's size: silence completes a short one.
    const auto payload = static_cast<uint32_t>(m_payloadBytes);
    if (encoded < payload) {
        std::memset(m_chain.Encoded() + encoded, m_silence, payload - encoded);
    }
}

void WinSonvex::ApplyGain(uint32_t monoBytes) {
    const double gain = m_gain.load(std::memory_order_relaxed);
    if (gain == 1.0) {
        return;  // 0 dB leaves the samples as they are
    }
    uint8_t* pcm = m_chain.Mix();
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
    SendPayload(m_chain.Encoded());
}

void WinSonvex::SendPayload(const uint8_t* payload) {
    const size_t count = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < count; ++i) {
        m_sendMask[i] = m_sendFaults[i] == destinationcheck::SendFault::None ? 1 : 0;
        if (m_sendMask[i] != 0) {
            FollowTickClock(i);
        }
    }
    m_fanOut.Send(m_rtp.data(), m_destinations.data(), count, payload, m_payloadBytes,
                  m_payloadType, m_sendMask.data());
}

bool WinSonvex::OpenPage(uint16_t law, int ptimeMs, uint32_t rate, uint32_t channels,
                         size_t blockFrames, const std::vector<RtpDestination>& destinations,
                         int64_t startNs) {
    CloseEntry();
    constexpr uint32_t kPageRate = 8000;
    const int64_t payload = static_cast<int64_t>(ptimeMs) * kPageRate / 1000;
    if ((law != WAVE_FORMAT_MULAW && law != WAVE_FORMAT_ALAW) || ptimeMs <= 0 || payload <= 0 ||
        payload > RtpProcessor::kMaxPayloadBytes || rate == 0 || channels == 0 ||
        channels > kMaxWaveChannels || blockFrames == 0 || blockFrames > kRingBytes) {
        return false;
    }
    UseDestinations(destinations, true);
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = static_cast<uint16_t>(channels);
    pcm.nSamplesPerSec = rate;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<uint16_t>(channels * 2);
    pcm.nAvgBytesPerSec = rate * pcm.nBlockAlign;
    WAVEFORMATEX g711{};
    g711.wFormatTag = law;
    g711.nChannels = 1;
    g711.nSamplesPerSec = kPageRate;
    g711.nAvgBytesPerSec = kPageRate;
    g711.nBlockAlign = 1;
    g711.wBitsPerSample = 8;
    std::array<uint8_t, sizeof(WAVEFORMATEX)> pcmBytes{};
    std::array<uint8_t, sizeof(WAVEFORMATEX)> g711Bytes{};
    WriteWaveFormat(pcm, pcmBytes.data());
    WriteWaveFormat(g711, g711Bytes.data());
    const auto blockBytes = static_cast<uint32_t>(blockFrames * channels * 2);
    if (!m_chain.OpenStages(pcmBytes.data(), static_cast<uint32_t>(pcmBytes.size()),
                            g711Bytes.data(), static_cast<uint32_t>(g711Bytes.size()), true) ||
        !m_chain.Prepare(m_chain.SizesFromChunk(blockBytes)) ||
        m_chain.BufferSizes().pcm < blockBytes) {
        ReleaseEntry();
        return false;
    }
    m_payloadBytes = static_cast<int>(payload);
    m_payloadType = law == WAVE_FORMAT_ALAW ? kPayloadTypePcma : kPayloadTypePcmu;
    m_silence = law == WAVE_FORMAT_ALAW ? kSilenceAlaw : kSilenceMulaw;
    m_clockRate = static_cast<int32_t>(kPageRate);
    m_pageFrameBytes = channels * 2;
    // Room for a packet plus what one block encodes to, and the same again.
    m_pageRing = std::make_unique<BufferCyclic>(
        2 * (static_cast<uint32_t>(payload) + m_chain.BufferSizes().encoded) + 1);
    m_pagePacket.assign(static_cast<size_t>(payload), m_silence);
    m_pagePacketNs = startNs;
    m_endOfSource = 0;
    return true;
}

int WinSonvex::PageBlock(const int16_t* samples, size_t frames) {
    if (!m_pageRing) {
        return 0;
    }
    const uint32_t bytes =
        std::min(static_cast<uint32_t>(frames) * m_pageFrameBytes, m_chain.BufferSizes().pcm) /
        m_pageFrameBytes * m_pageFrameBytes;
    uint8_t* pcm = m_chain.Pcm();
    for (uint32_t i = 0; i < bytes / 2; ++i) {
        platform::StoreLe16s(pcm + 2 * i, samples[i]);
    }
    const uint32_t mono = m_chain.Resample(bytes);
    ApplyGain(mono);  // the live volume, as on the files
    const uint32_t encoded = mono == 0 ? 0 : m_chain.EncodeMix(mono);
    m_pageRing->Write(m_chain.Encoded(), encoded);
    int sent = 0;
    // The timestamps run on from the first packet's instant, one packet time each: the
    // capture's own clock paces the page, and its jitter must not open gaps in them.
    const int64_t packetNs = static_cast<int64_t>(m_payloadBytes) * 1000000000 / m_clockRate;
    while (m_pageRing->Read(m_pagePacket.data(), static_cast<uint32_t>(m_payloadBytes)) != 0) {
        m_tickNs = m_pagePacketNs;
        SendPayload(m_pagePacket.data());
        m_pagePacketNs += packetNs;
        ++sent;
    }
    return sent;
}

void WinSonvex::CloseEntry() {
    if (m_ring || m_pageRing) {
        ReleaseEntry();
    }
}

void WinSonvex::ReleaseEntry() {
    m_chain.Close();
    m_ring.reset();
    m_pageRing.reset();
    m_pageFrameBytes = 0;
    m_decodedMax = 0;
    m_packetPcmBytes = 0;
    m_payloadBytes = 0;
    m_payloadReady = false;
    m_monoReady = 0;
}

bool WinSonvex::ProbeSource(const char* path, SourceFormatInfo& info, std::string& text) {
    // The reason is the reader's; the callers here have their own message.
    SourceFormatInfo probed = info;
    std::string description;
    std::string reason;
    if (!ProbeSourceFile(path, probed, description, reason)) {
        return false;
    }
    info = std::move(probed);
    text = std::move(description);
    return true;
}

void WinSonvex::SetVolumeDb(int dB) {
    m_gain.store(std::pow(10.0, dB / 20.0), std::memory_order_relaxed);
}
