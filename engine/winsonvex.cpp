#include "engine/winsonvex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

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

uint32_t StreamSize(HACMSTREAM stream, uint32_t input, uint32_t flags) {
    uint32_t output = 0;
    acmStreamSize(stream, input, &output, flags);
    return output;
}

std::unique_ptr<uint8_t[]> ZeroedBuffer(uint32_t bytes) {
    return std::unique_ptr<uint8_t[]>(new uint8_t[bytes]());
}

}  // namespace

bool WinSonvex::Stage::Open(const void* srcFormat, uint32_t srcBytes, const void* dstFormat,
                            uint32_t dstBytes) {
    Release();
    if (acmStreamOpen(&stream, nullptr, srcFormat, srcBytes, dstFormat, dstBytes, 0) !=
        MMSYSERR_NOERROR) {
        stream = nullptr;
        return false;
    }
    return true;
}

void WinSonvex::Stage::Prepare(uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes) {
    header = ACMSTREAMHEADER{};
    header.cbStruct = ACMSTREAMHEADER_SIZE;
    header.pbSrc = src;
    header.cbSrcLength = srcBytes;
    header.pbDst = dst;
    header.cbDstLength = dstBytes;
    prepared = acmStreamPrepareHeader(stream, &header, 0) == MMSYSERR_NOERROR;
}

void WinSonvex::Stage::Release() {
    if (prepared) {
        acmStreamUnprepareHeader(stream, &header, 0);
        prepared = false;
    }
    if (stream != nullptr) {
        acmStreamClose(stream, 0);
        stream = nullptr;
    }
    header = ACMSTREAMHEADER{};
}

WinSonvex::WinSonvex() {
    acmDriverEnum(&WinSonvex::CountDriverTags, reinterpret_cast<uintptr_t>(this), 0);
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

bool WinSonvex::CountDriverTags(HACMDRIVERID driverId, uintptr_t instance, uint32_t support) {
    auto* self = reinterpret_cast<WinSonvex*>(instance);
    if ((support & ACMDRIVERDETAILS_SUPPORTF_CODEC) == 0) {
        return true;
    }
    ACMDRIVERDETAILSA details{};
    details.cbStruct = sizeof details;
    if (acmDriverDetailsA(driverId, &details, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    HACMDRIVER driver = nullptr;
    if (acmDriverOpen(&driver, driverId, 0) != MMSYSERR_NOERROR) {
        return true;
    }
    for (uint32_t index = 0; index < details.cFormatTags; ++index) {
        ACMFORMATTAGDETAILSA tag{};
        tag.cbStruct = sizeof tag;
        tag.dwFormatTagIndex = index;
        if (acmFormatTagDetailsA(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) == MMSYSERR_NOERROR &&
            tag.dwFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            ++self->m_mp3CodecCount;
        }
    }
    acmDriverClose(driver, 0);
    return true;
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
    const size_t senders = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < senders; ++i) {
        m_rtp[i].SetMulticastOptions(m_destinations[i].Ttl, m_destinations[i].Interface);
    }
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

    const WAVEFORMATEX decoded = Pcm16WaveFormat(source.nChannels, source.nSamplesPerSec);
    const WAVEFORMATEX mono = Pcm16WaveFormat(1, static_cast<uint32_t>(m_entry.DstSampleRate));
    WAVEFORMATEX g711{};
    g711.wFormatTag = static_cast<uint16_t>(m_entry.DstFormat & 0xFFFF);
    g711.nChannels = 1;
    g711.nSamplesPerSec = static_cast<uint32_t>(m_entry.DstSampleRate);
    g711.nAvgBytesPerSec = g711.nSamplesPerSec;
    g711.nBlockAlign = 1;
    g711.wBitsPerSample = 8;

    if (!m_decode.Open(src.format.get(), static_cast<uint32_t>(src.formatSize), &decoded,
                       sizeof decoded) ||
        !m_resample.Open(&decoded, sizeof decoded, &mono, sizeof mono) ||
        !m_encode.Open(&mono, sizeof mono, &g711, sizeof g711)) {
        ReleaseEntry();
        return false;
    }

    SourceFormatInfo fresh;
    std::string description;
    if (!m_source.Open(src.path, fresh, description)) {
        ReleaseEntry();
        return false;
    }
    // The chain was built from the format stored at probe time; a file that has changed
    // since then would be decoded with the wrong codec.
    if (fresh.chunkBytes != src.chunkBytes || fresh.formatSize != src.formatSize ||
        std::memcmp(fresh.format.get(), src.format.get(), static_cast<size_t>(src.formatSize)) !=
            0) {
        ReleaseEntry();
        return false;
    }

    m_chunkBytes = static_cast<uint32_t>(src.chunkBytes);
    m_payloadBytes = static_cast<int>(payload);
    m_monoBytes = StreamSize(m_encode.stream, static_cast<uint32_t>(m_payloadBytes),
                             ACM_STREAMSIZEF_DESTINATION);
    m_packetPcmBytes = StreamSize(m_resample.stream, m_monoBytes, ACM_STREAMSIZEF_DESTINATION);
    // Whole sample frames only: the gain works on 16-bit samples, and a frame split across
    // two packets would swap the channels of the next one.
    const uint32_t frame = decoded.nBlockAlign;
    m_packetPcmBytes = (m_packetPcmBytes + frame - 1) / frame * frame;
    m_decodedMax = StreamSize(m_decode.stream, m_chunkBytes, ACM_STREAMSIZEF_SOURCE);
    if (m_monoBytes == 0 || m_packetPcmBytes == 0 || m_packetPcmBytes > kMaxDecodedBytes ||
        m_decodedMax == 0 || m_decodedMax > kMaxDecodedBytes) {
        ReleaseEntry();
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

    m_payloadType = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kPayloadTypePcma : kPayloadTypePcmu;
    m_silence = m_entry.DstFormat == WAVE_FORMAT_ALAW ? kSilenceAlaw : kSilenceMulaw;
    m_sourceState = SourceState::Reading;
    m_endOfSource = 0;
    return true;
}

uint32_t WinSonvex::DecodeNext() {
    const bool draining = m_sourceState == SourceState::Draining;
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (draining) {
        m_decode.header.cbSrcLength = 0;  // only what the decoder still holds
    } else {
        const int got = m_source.Read(m_chunkBuf.get(), static_cast<int>(m_chunkBytes));
        if (got != static_cast<int>(m_chunkBytes)) {
            // End of file or a read error: what came is decoded and the decoder drained.
            m_decode.header.cbSrcLength = got > 0 ? static_cast<uint32_t>(got) : 0;
            flags |= ACM_STREAMCONVERTF_END;
            m_sourceState = SourceState::Draining;
        }
    }
    m_decode.header.cbDstLengthUsed = 0;
    acmStreamConvert(m_decode.stream, &m_decode.header, flags);
    m_decode.header.cbSrcLength = m_chunkBytes;
    const uint32_t used = std::min(m_decode.header.cbDstLengthUsed, m_decodedMax);
    if (draining && used == 0) {
        m_sourceState = SourceState::Done;
    }
    return used;
}

bool WinSonvex::ProducePacket() {
    if (!m_ring || m_endOfSource != 0) {
        return false;
    }
    bool havePacket = m_ring->Read(m_packetPcmBuf.get(), m_packetPcmBytes) != 0;
    // Each pass either decodes a chunk (the source is finite), drains the decoder (which
    // holds a bounded amount) or leaves; the ring's sizing guarantees room for a chunk
    // whenever no packet is available.
    while (!havePacket && m_sourceState != SourceState::Done &&
           m_ring->FreeSpace() > m_decodedMax) {
        const uint32_t used = DecodeNext();
        if (used > 0) {
            m_ring->Write(m_decodedBuf.get(), used);
            havePacket = m_ring->Read(m_packetPcmBuf.get(), m_packetPcmBytes) != 0;
        }
    }
    // After the last whole packet: what the ring held back, then what the rate converter
    // holds (its filter's tail), in as many packets as that takes.
    const bool tail = !havePacket;
    if (tail && m_sourceState != SourceState::Done) {
        return false;
    }
    const uint32_t pcmBytes =
        tail ? m_ring->Drain(m_packetPcmBuf.get(), m_packetPcmBytes) : m_packetPcmBytes;

    const double gain = m_gain.load(std::memory_order_relaxed);
    uint8_t* pcm = m_packetPcmBuf.get();
    for (uint32_t i = 0; i + 1 < pcmBytes; i += 2) {
        // Truncated toward zero, then held at the 16-bit limits instead of wrapping.
        double product = std::trunc(platform::LoadLe16s(pcm + i) * gain);
        product = std::clamp(product, static_cast<double>(std::numeric_limits<int16_t>::min()),
                             static_cast<double>(std::numeric_limits<int16_t>::max()));
        platform::StoreLe16s(pcm + i, static_cast<int16_t>(product));
    }

    if (!tail) {
        acmStreamConvert(m_resample.stream, &m_resample.header, ACM_STREAMCONVERTF_BLOCKALIGN);
        acmStreamConvert(m_encode.stream, &m_encode.header, ACM_STREAMCONVERTF_BLOCKALIGN);
    } else {
        m_resample.header.cbSrcLength = pcmBytes;
        m_resample.header.cbDstLengthUsed = 0;
        acmStreamConvert(m_resample.stream, &m_resample.header,
                         ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
        m_resample.header.cbSrcLength = m_packetPcmBytes;
        const uint32_t mono = std::min(m_resample.header.cbDstLengthUsed, m_monoBytes);
        if (mono == 0) {
            m_endOfSource = 1;  // everything has been sent
            return false;
        }
        m_encode.header.cbSrcLength = mono;
        m_encode.header.cbDstLengthUsed = 0;
        acmStreamConvert(m_encode.stream, &m_encode.header, ACM_STREAMCONVERTF_BLOCKALIGN);
        m_encode.header.cbSrcLength = m_monoBytes;
        // The packet keeps the entry's size: silence completes it.
        const auto payload = static_cast<uint32_t>(m_payloadBytes);
        const uint32_t encoded = std::min(m_encode.header.cbDstLengthUsed, payload);
        std::memset(m_payloadBuf.get() + encoded, m_silence, payload - encoded);
    }

    const size_t count = std::min(m_destinations.size(), static_cast<size_t>(kSenderCount));
    for (size_t i = 0; i < count; ++i) {
        const RtpDestination& dest = m_destinations[i];
        m_rtp[i].SendPacket(m_payloadBuf.get(), m_payloadBytes, dest.IP,
                            static_cast<int>(dest.Port), m_payloadType);
    }
    return true;
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
