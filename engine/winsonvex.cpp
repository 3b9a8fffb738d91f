#include "engine/winsonvex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "codec/formattags.h"
#include "media/sourceprobe.h"
#include "platform/byteorder.h"
#include "playlist/outputcodec.h"

namespace {

constexpr uint32_t kRingBytes = 200000;
// Bounds on what an entry may ask the engine to allocate; a format claiming more is refused.
constexpr uint32_t kMaxChunkBytes = 16u << 20;

}  // namespace

WinSonvex::WinSonvex() {
    for (const ACMFORMATTAGDETAILSA& tag : EnumerateFormatTags()) {
        if (tag.dwFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            ++m_mp3CodecCount;
        }
    }
    if (m_mp3CodecCount > 0) {
        acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &m_maxFormatSize);
    }
}

WinSonvex::~WinSonvex() {
    CloseEntry();
}

bool WinSonvex::OpenEntry(const PlaylistFile& entry,
                          const std::vector<RtpDestination>& destinations,
                          std::unique_ptr<platform::ByteSource> bytes) {
    CloseEntry();
    if (m_mp3CodecCount == 0) {
        return false;
    }
    m_entry = entry;
    m_destinations = destinations;
    if (m_transmitter != nullptr) {
        m_transmitter->UseDestinations(m_destinations);
    }
    ChainPlan plan;
    if (!ValidateEntry(plan)) {
        return false;
    }
    if (!OpenChain(plan, std::move(bytes)) || !SizeBuffers(plan)) {
        ReleaseEntry();
        return false;
    }
    m_payloadType = plan.payloadType;
    m_clockRate = plan.clockRate;
    m_endOfSource = 0;
    m_payloadReady = false;
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
    const OutputCodec* codec = FindOutputCodec(m_entry.DstFormat);
    // G.722 exists at 16 kHz only; G.711 is encoded at the entry's rate, its clock that rate.
    const bool wideband = codec != nullptr && codec->format == kFormatG722;
    if (codec == nullptr || (wideband && m_entry.DstSampleRate != codec->sampleRate)) {
        return false;
    }
    // 64-bit: a stored rate and time may not overflow into a plausible size. G.722 carries
    // one byte per two samples.
    const int64_t payload = static_cast<int64_t>(m_entry.DstPacketization) * m_entry.DstSampleRate /
                            (wideband ? 2000 : 1000);
    if (m_entry.DstPacketization <= 0 || payload <= 0 || payload > RtpProcessor::kMaxPayloadBytes) {
        return false;  // it would not fit the RTP packet buffer
    }
    WAVEFORMATEX output{};
    output.wFormatTag = static_cast<uint16_t>(codec->format);
    output.nChannels = 1;
    output.nSamplesPerSec = static_cast<uint32_t>(m_entry.DstSampleRate);
    output.nAvgBytesPerSec = wideband ? output.nSamplesPerSec / 2 : output.nSamplesPerSec;
    output.nBlockAlign = 1;
    output.wBitsPerSample = wideband ? 4 : 8;
    WriteWaveFormat(output, plan.output.data());
    plan.payloadType = codec->payloadType;
    plan.clockRate = wideband ? codec->clockRate : m_entry.DstSampleRate;
    plan.frameBytes = source.nChannels * 2u;
    plan.chunkBytes = static_cast<uint32_t>(src.chunkBytes);
    plan.payloadBytes = static_cast<int>(payload);
    return true;
}

bool WinSonvex::OpenChain(const ChainPlan& plan, std::unique_ptr<platform::ByteSource> bytes) {
    const SourceFormatInfo& src = m_entry.Source;
    if (!m_chain.OpenStages(src.format.get(), static_cast<uint32_t>(src.formatSize),
                            plan.output.data(), static_cast<uint32_t>(plan.output.size()))) {
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
    const uint8_t* payload = NextPayload();
    if (payload == nullptr) {
        return false;
    }
    if (m_transmitter != nullptr) {
        m_transmitter->Send(payload, m_payloadBytes, m_payloadType, m_tickNs, m_clockRate);
    }
    // The next packet's samples, and the chunk they need decoded, wait until the datagrams
    // are out.
    PrepareNext();
    return true;
}

const uint8_t* WinSonvex::NextPayload() {
    if (!m_ring || m_endOfSource != 0) {
        return nullptr;
    }
    // The previous tick left this packet's samples resampled; only the first tick of an
    // entry prepares them before it sends.
    if (!m_payloadReady && !PrepareSamples()) {
        if (m_chain.AllDecoded()) {
            m_endOfSource = 1;  // everything has been sent
        }
        return nullptr;
    }
    EncodePayload();
    m_payloadReady = false;
    return m_chain.Encoded();
}

void WinSonvex::PrepareNext() {
    if (m_ring && m_endOfSource == 0 && !m_payloadReady) {
        m_payloadReady = PrepareSamples();
    }
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
    // The packet keeps the entry's size: silent samples complete a short one before it is
    // encoded (G.722 has no one code byte for silence; its coder must see the zeros).
    const uint32_t mixBytes = m_chain.BufferSizes().mix;
    if (m_monoReady < mixBytes) {
        std::memset(m_chain.Mix() + m_monoReady, 0, mixBytes - m_monoReady);
    }
    const uint32_t encoded = m_chain.EncodeMix(mixBytes);
    const auto payload = static_cast<uint32_t>(m_payloadBytes);
    if (encoded < payload) {
        std::memset(m_chain.Encoded() + encoded, 0, payload - encoded);  // no stale bytes
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

void WinSonvex::CloseEntry() {
    if (m_ring) {
        ReleaseEntry();
    }
}

void WinSonvex::ReleaseEntry() {
    m_chain.Close();
    m_ring.reset();
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
