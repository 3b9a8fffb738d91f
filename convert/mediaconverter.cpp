#include "convert/mediaconverter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "codec/waveformat.h"
#include "decodeahead.h"

namespace {

constexpr uint32_t kWaveFormatBytes = sizeof(WAVEFORMATEX);
// cbSize is 16 bits, so no record is larger than this.
constexpr uint32_t kLargestFormatBytes = kWaveFormatBytes + 0xFFFF;

// Converting a file onto itself would truncate the source before a byte of it was read.
bool SameFile(const char* a, const char* b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

MediaConverter::MediaConverter() = default;

MediaConverter::~MediaConverter() {
    if (IsOpen() || m_input.IsOpen() || m_output.IsOpen()) {
        CloseChain();
    }
}

uint32_t MediaConverter::FormatRecordSize() const {
    return std::clamp(m_catalog.MaxFormatSize(), kWaveFormatBytes, kLargestFormatBytes);
}

void MediaConverter::WriteOutputFormat(uint8_t* record) const {
    std::memset(record, 0, FormatRecordSize());
    WAVEFORMATEX output{};
    output.wFormatTag = WAVE_FORMAT_MULAW;
    output.nChannels = 1;
    output.nSamplesPerSec = 8000;
    WriteWaveFormat(output, record);
}

bool MediaConverter::OpenChain(const char* sourcePath, const char* outputPath,
                               uint8_t* outputFormat) {
    if (sourcePath == nullptr || outputPath == nullptr || outputFormat == nullptr || IsOpen() ||
        m_input.IsOpen() || m_output.IsOpen()) {
        return false;
    }
    m_stopRequested.store(false, std::memory_order_relaxed);
    m_inputState = InputState::Reading;
    m_tailDone = false;

    m_sourceInfo = SourceFormatInfo{};
    std::string description;
    if (!m_input.Open(sourcePath, m_sourceInfo, description)) {
        return false;
    }
    WAVEFORMATEX source{};
    if (!ReadWaveFormat(m_sourceInfo.format.get(), static_cast<size_t>(m_sourceInfo.formatSize),
                        source) ||
        m_sourceInfo.chunkBytes <= 0 || source.nChannels == 0 || source.nSamplesPerSec == 0 ||
        SameFile(sourcePath, outputPath)) {
        m_input.Close();
        return false;
    }

    if (!m_output.Create(outputPath, outputFormat)) {
        m_input.Close();
        return false;
    }
    m_outputFormat = outputFormat;
    m_outputPath = outputPath;
    m_writeFailed = false;

    if (!OpenStages() || !PrepareStages()) {
        CloseChain();
        return false;
    }
    return true;
}

bool MediaConverter::OpenStages() {
    const uint32_t recordSize = FormatRecordSize();
    WAVEFORMATEX source{};
    WAVEFORMATEX output{};
    ReadWaveFormat(m_sourceInfo.format.get(), static_cast<size_t>(m_sourceInfo.formatSize), source);
    ReadWaveFormat(m_outputFormat, kWaveFormatBytes, output);

    // PCM A: the source's channels and rate; PCM B: the output's. Both 16-bit.
    auto pcmA = std::make_unique<uint8_t[]>(recordSize);
    auto pcmB = std::make_unique<uint8_t[]>(recordSize);
    WriteWaveFormat(Pcm16WaveFormat(source.nChannels, source.nSamplesPerSec), pcmA.get());
    WriteWaveFormat(Pcm16WaveFormat(output.nChannels, output.nSamplesPerSec), pcmB.get());

    const auto sourceBytes = static_cast<uint32_t>(m_sourceInfo.formatSize);
    return m_stage[0].Open(m_sourceInfo.format.get(), sourceBytes, pcmA.get(), recordSize) &&
           m_stage[1].Open(pcmA.get(), recordSize, pcmB.get(), recordSize) &&
           m_stage[2].Open(pcmB.get(), recordSize, m_outputFormat, recordSize);
}

bool MediaConverter::PrepareStages() {
    // Each stage's source is at most what the stage before it can give; the sizes are the
    // codecs' bounds from the source side.
    uint32_t length[kStages + 1] = {static_cast<uint32_t>(m_sourceInfo.chunkBytes)};
    for (int stage = 0; stage < kStages; ++stage) {
        length[stage + 1] = m_stage[stage].DestinationBound(length[stage]);
        if (length[stage + 1] == 0) {
            return false;
        }
    }
    m_sourceBuffer = std::make_unique<uint8_t[]>(length[0]);
    m_mixSource = std::make_unique<uint8_t[]>(length[1]);
    for (int stage = 0; stage < kStages; ++stage) {
        m_destBuffer[stage] = std::make_unique<uint8_t[]>(length[stage + 1]);
    }
    uint8_t* sources[kStages] = {m_sourceBuffer.get(), m_mixSource.get(), m_destBuffer[1].get()};
    for (int stage = 0; stage < kStages; ++stage) {
        if (!m_stage[stage].Prepare(sources[stage], length[stage], m_destBuffer[stage].get(),
                                    length[stage + 1])) {
            return false;
        }
    }
    return true;
}

void MediaConverter::ReleaseStages() {
    for (CodecStage& stage : m_stage) {
        stage.Release();
    }
    m_sourceBuffer.reset();
    m_mixSource.reset();
    for (auto& buffer : m_destBuffer) {
        buffer.reset();
    }
}

bool MediaConverter::ConvertBlock(std::unique_ptr<uint8_t[]>& out, uint32_t& outLength) {
    outLength = 0;
    out.reset();
    if (!IsOpen() || m_tailDone) {
        return false;
    }
    const int64_t decoded = DecodeChunk();
    if (decoded == 0) {
        return true;
    }
    m_tailDone = decoded < 0;
    const uint32_t encoded =
        decoded < 0 ? EncodeChunk(nullptr, 0, true)
                    : EncodeChunk(m_destBuffer[0].get(), static_cast<uint32_t>(decoded), false);
    if (encoded > 0) {
        out = std::make_unique_for_overwrite<uint8_t[]>(encoded);
        std::memcpy(out.get(), m_destBuffer[2].get(), encoded);
        outLength = encoded;
    }
    return true;
}

int64_t MediaConverter::DecodeChunk() {
    CodecStage& decoder = m_stage[0];
    if (!decoder.IsPrepared() || m_inputState == InputState::Done) {
        return -1;
    }
    if (m_inputState == InputState::Draining) {
        // Only what the decoder still holds; once it gives nothing, all is decoded.
        const uint32_t used = decoder.Convert(0);
        if (used == 0) {
            m_inputState = InputState::Done;
            return -1;
        }
        return used;
    }
    const auto wanted = static_cast<int>(decoder.SourceLength());
    const int got = m_input.Read(m_sourceBuffer.get(), wanted, -1);
    if (got == wanted) {
        return decoder.Convert();
    }
    // End of file or a read error: the last, partial chunk is decoded too, and the decoder
    // drained.
    m_inputState = InputState::Draining;
    return decoder.Convert(got > 0 ? static_cast<uint32_t>(got) : 0, true);
}

uint32_t MediaConverter::EncodeChunk(const uint8_t* decoded, uint32_t length, bool end) {
    if (!m_stage[1].IsPrepared() || !m_stage[2].IsPrepared()) {
        return 0;
    }
    length = decoded != nullptr ? std::min(length, m_stage[1].SourceLength()) : 0;
    if (length > 0) {
        std::memcpy(m_mixSource.get(), decoded, length);
    }
    // At the end an empty pass with the end flag drains the rate converter's tail.
    const uint32_t resampled = m_stage[1].Convert(length, end);
    return resampled == 0 ? 0 : m_stage[2].Convert(resampled);
}

bool MediaConverter::CloseChain() {
    ReleaseStages();
    m_input.Close();
    m_output.Close();
    m_outputFormat = nullptr;
    return true;
}

void MediaConverter::Deliver(uint32_t length, uint64_t& total, uint32_t bytesPerSecond,
                             ConvertDoneSink& dialog) {
    if (length == 0) {
        return;
    }
    const uint8_t* data = m_destBuffer[2].get();
    m_pending.insert(m_pending.end(), data, data + length);
    if (m_pending.size() >= kWriteBytes && !WritePending()) {
        return;
    }
    total += length;
    const uint64_t seconds = bytesPerSecond != 0 ? total / bytesPerSecond : 0;
    dialog.PostConvertDone(0, static_cast<intptr_t>(seconds));
}

bool MediaConverter::WritePending() {
    // A short write (the disk filled up) is retried for the rest; a refused one ends the
    // conversion: what follows could never be a whole file.
    size_t written = 0;
    while (written < m_pending.size()) {
        const int n = m_output.Write(m_pending.data() + written,
                                     static_cast<int>(m_pending.size() - written));
        if (n <= 0) {
            m_writeFailed = true;
            RequestStop();
            return false;
        }
        written += static_cast<size_t>(n);
    }
    m_pending.clear();
    return true;
}

void MediaConverter::ConvertAll(uint32_t bytesPerSecond, ConvertDoneSink& dialog) {
    uint64_t total = 0;
    m_pending.clear();
    m_pending.reserve(kWriteBytes + m_stage[2].DestinationLength());
    {
        DecodeAhead chunks([this] { return DecodeChunk(); }, m_destBuffer[0].get(),
                           m_stopRequested);
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        while (!Stopped() && chunks.Next(data, length)) {
            Deliver(EncodeChunk(data, length, false), total, bytesPerSecond, dialog);
        }
    }  // the helper has ended: the input and stage 1 are this thread's again
    // The whole source was decoded: the rate converter's tail completes the output.
    if (!Stopped()) {
        Deliver(EncodeChunk(nullptr, 0, true), total, bytesPerSecond, dialog);
    }
    // Stopped or not, what was converted goes into the file.
    if (!m_writeFailed) {
        WritePending();
    }
    m_pending = {};
}

int MediaConverter::ConversionWorker(ConvertDoneSink& dialog) {
    WAVEFORMATEX output{};
    if (m_outputFormat != nullptr) {
        ReadWaveFormat(m_outputFormat, kWaveFormatBytes, output);
    }
    if (IsOpen() && m_stage[0].IsPrepared()) {
        ConvertAll(output.nAvgBytesPerSec, dialog);
    }
    CloseChain();
    if (m_writeFailed) {
        // Only the file this conversion made, which holds a part of the audio at best.
        std::error_code ignored;
        std::filesystem::remove(m_outputPath, ignored);
    }
    dialog.PostConvertDone(1, m_writeFailed ? kConvertWriteFailed : 0);
    return 0;
}
