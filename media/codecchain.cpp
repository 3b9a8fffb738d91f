#include "media/codecchain.h"

#include <utility>

#include "codec/waveformat.h"

namespace {

// No buffer of a chain is larger; a format claiming more is refused.
constexpr uint32_t kMaxBufferBytes = 64u << 20;
constexpr auto kPcmRecordBytes = static_cast<uint32_t>(sizeof(WAVEFORMATEX));

std::unique_ptr<uint8_t[]> ZeroedBuffer(uint32_t bytes) {
    return std::make_unique<uint8_t[]>(bytes);
}

}  // namespace

bool CodecChain::OpenSource(const char* path, SourceFormatInfo& info, std::string& description) {
    m_state = State::Reading;
    return m_source.Open(path, info, description);
}

bool CodecChain::OpenSource(std::unique_ptr<platform::ByteSource> bytes, const char* name,
                            SourceFormatInfo& info, std::string& description) {
    m_state = State::Reading;
    return m_source.Open(std::move(bytes), name, info, description);
}

bool CodecChain::OpenStages(const uint8_t* sourceFormat, uint32_t sourceBytes,
                            const uint8_t* outputFormat, uint32_t outputBytes, bool live) {
    WAVEFORMATEX source{};
    WAVEFORMATEX output{};
    if (!ReadWaveFormat(sourceFormat, sourceBytes, source) ||
        !ReadWaveFormat(outputFormat, outputBytes, output)) {
        return false;
    }
    uint8_t decoded[kPcmRecordBytes];
    uint8_t mixed[kPcmRecordBytes];
    WriteWaveFormat(Pcm16WaveFormat(source.nChannels, source.nSamplesPerSec), decoded);
    WriteWaveFormat(Pcm16WaveFormat(output.nChannels, output.nSamplesPerSec), mixed);
    return m_decode.Open(sourceFormat, sourceBytes, decoded, kPcmRecordBytes) &&
           m_resample.Open(decoded, kPcmRecordBytes, mixed, kPcmRecordBytes, live) &&
           m_encode.Open(mixed, kPcmRecordBytes, outputFormat, outputBytes);
}

CodecChain::Sizes CodecChain::SizesFromChunk(uint32_t chunkBytes) const {
    Sizes sizes;
    sizes.chunk = chunkBytes;
    sizes.decoded = m_decode.DestinationBound(chunkBytes);
    sizes.pcm = sizes.decoded;
    sizes.mix = m_resample.DestinationBound(sizes.pcm);
    sizes.encoded = m_encode.DestinationBound(sizes.mix);
    return sizes;
}

CodecChain::Sizes CodecChain::SizesFromPacket(uint32_t chunkBytes, uint32_t encodedBytes,
                                              uint32_t frameBytes) const {
    Sizes sizes;
    sizes.chunk = chunkBytes;
    sizes.decoded = m_decode.DestinationBound(chunkBytes);
    sizes.encoded = encodedBytes;
    sizes.mix = m_encode.SourceNeeded(encodedBytes);
    // Whole sample frames only: a frame split across two packets would swap the channels of
    // the next one.
    const uint64_t pcm = m_resample.SourceNeeded(sizes.mix);
    const uint64_t frame = frameBytes == 0 ? 1 : frameBytes;
    const uint64_t whole = (pcm + frame - 1) / frame * frame;
    sizes.pcm = whole > kMaxBufferBytes ? 0 : static_cast<uint32_t>(whole);
    return sizes;
}

bool CodecChain::Prepare(const Sizes& sizes) {
    for (const uint32_t size : {sizes.chunk, sizes.decoded, sizes.pcm, sizes.mix, sizes.encoded}) {
        if (size == 0 || size > kMaxBufferBytes) {
            return false;
        }
    }
    m_sizes = sizes;
    m_chunk = ZeroedBuffer(sizes.chunk);
    m_decoded = ZeroedBuffer(sizes.decoded);
    m_pcm = ZeroedBuffer(sizes.pcm);
    m_mix = ZeroedBuffer(sizes.mix);
    m_encoded = ZeroedBuffer(sizes.encoded);
    m_prepared = m_decode.Prepare(m_chunk.get(), sizes.chunk, m_decoded.get(), sizes.decoded) &&
                 m_resample.Prepare(m_pcm.get(), sizes.pcm, m_mix.get(), sizes.mix) &&
                 m_encode.Prepare(m_mix.get(), sizes.mix, m_encoded.get(), sizes.encoded);
    return m_prepared;
}

int64_t CodecChain::DecodeNext() {
    if (!m_prepared || m_state == State::Done) {
        return -1;
    }
    if (m_state == State::Draining) {
        // Only what the decoder still holds; once it gives nothing, all is decoded.
        const uint32_t used = m_decode.Convert(0);
        if (used == 0) {
            m_state = State::Done;
            return -1;
        }
        return used;
    }
    const int got = m_source.Read(m_chunk.get(), static_cast<int>(m_sizes.chunk));
    if (got == static_cast<int>(m_sizes.chunk)) {
        return m_decode.Convert();
    }
    // End of file or a read error: what came is decoded and the decoder drained.
    m_state = State::Draining;
    return m_decode.Convert(got > 0 ? static_cast<uint32_t>(got) : 0, true);
}

uint32_t CodecChain::Encode(uint32_t pcmBytes, bool end) {
    if (!m_prepared) {
        return 0;
    }
    return EncodeMix(Resample(pcmBytes, end));
}

uint32_t CodecChain::Resample(uint32_t pcmBytes, bool end) {
    return m_prepared ? m_resample.Convert(pcmBytes, end) : 0;
}

uint32_t CodecChain::EncodeMix(uint32_t mixBytes) {
    return m_prepared && mixBytes != 0 ? m_encode.Convert(mixBytes) : 0;
}

void CodecChain::Close() {
    m_decode.Release();
    m_resample.Release();
    m_encode.Release();
    m_source.Close();
    m_prepared = false;
    m_state = State::Done;
    m_sizes = Sizes{};
    m_chunk.reset();
    m_decoded.reset();
    m_pcm.reset();
    m_mix.reset();
    m_encoded.reset();
}
