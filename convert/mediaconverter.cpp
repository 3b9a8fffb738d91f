#include "convert/mediaconverter.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "codec/g722.h"
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
    m_output.Abandon();
    m_chain.Close();
}

uint32_t MediaConverter::FormatRecordSize() const {
    return std::clamp(m_catalog.MaxFormatSize(), kWaveFormatBytes, kLargestFormatBytes);
}

void MediaConverter::WriteOutputFormat(uint8_t* record, uint16_t tag) const {
    std::memset(record, 0, FormatRecordSize());
    WAVEFORMATEX output{};
    output.wFormatTag = WAVE_FORMAT_MULAW;
    output.nChannels = 1;
    output.nSamplesPerSec = 8000;
    if (tag == WAVE_FORMAT_G722_ADPCM) {
        // One byte per two samples: what a reader needs to size the audio.
        output.wFormatTag = WAVE_FORMAT_G722_ADPCM;
        output.nSamplesPerSec = kG722SampleRate;
        output.nAvgBytesPerSec = kG722SampleRate / 2;
        output.nBlockAlign = 1;
        output.wBitsPerSample = 4;
    }
    WriteWaveFormat(output, record);
}

bool MediaConverter::Refuse(ChainFailure failure) {
    m_failure = failure;
    m_output.Abandon();
    m_chain.Close();
    m_outputFormat = nullptr;
    return false;
}

bool MediaConverter::OpenChain(const char* sourcePath, const char* outputPath,
                               uint8_t* outputFormat, std::unique_ptr<platform::ByteSource> bytes) {
    if (sourcePath == nullptr || outputPath == nullptr || outputFormat == nullptr || IsOpen() ||
        m_chain.Source().IsOpen() || m_output.IsOpen()) {
        return false;
    }
    m_stopRequested.store(false, std::memory_order_relaxed);
    m_failure = ChainFailure::None;
    m_outputError.clear();
    m_tailDone = false;

    m_sourceInfo = SourceFormatInfo{};
    std::string description;
    WAVEFORMATEX source{};
    const bool opened =
        bytes ? m_chain.OpenSource(std::move(bytes), sourcePath, m_sourceInfo, description)
              : m_chain.OpenSource(sourcePath, m_sourceInfo, description);
    if (!opened ||
        !ReadWaveFormat(m_sourceInfo.format.get(), static_cast<size_t>(m_sourceInfo.formatSize),
                        source) ||
        m_sourceInfo.chunkBytes <= 0 || source.nChannels == 0 || source.nSamplesPerSec == 0) {
        return Refuse(ChainFailure::Source);
    }
    if (SameFile(sourcePath, outputPath) || !m_output.Create(outputPath, outputFormat)) {
        m_outputError =
            SameFile(sourcePath, outputPath) ? "it is the input itself" : m_output.RefusalReason();
        return Refuse(ChainFailure::Output);
    }
    m_outputFormat = outputFormat;
    m_writeFailed = false;
    return OpenStages() || Refuse(ChainFailure::Codec);
}

bool MediaConverter::OpenStages() {
    const auto sourceBytes = static_cast<uint32_t>(m_sourceInfo.formatSize);
    return m_chain.OpenStages(m_sourceInfo.format.get(), sourceBytes, m_outputFormat,
                              FormatRecordSize()) &&
           m_chain.Prepare(m_chain.SizesFromChunk(static_cast<uint32_t>(m_sourceInfo.chunkBytes)));
}

bool MediaConverter::ConvertBlock(std::unique_ptr<uint8_t[]>& out, uint32_t& outLength) {
    outLength = 0;
    out.reset();
    if (!IsOpen() || m_tailDone) {
        return false;
    }
    const int64_t decoded = m_chain.DecodeNext();
    if (decoded == 0) {
        return true;
    }
    m_tailDone = decoded < 0;
    const uint32_t encoded =
        decoded < 0 ? EncodeChunk(nullptr, 0, true)
                    : EncodeChunk(m_chain.Decoded(), static_cast<uint32_t>(decoded), false);
    if (encoded > 0) {
        out = std::make_unique_for_overwrite<uint8_t[]>(encoded);
        std::memcpy(out.get(), m_chain.Encoded(), encoded);
        outLength = encoded;
    }
    return true;
}

uint32_t MediaConverter::EncodeChunk(const uint8_t* decoded, uint32_t length, bool end) {
    if (!m_chain.IsPrepared()) {
        return 0;
    }
    // Stage 2 reads its own copy, so that the next chunk can be decoded meanwhile.
    length = decoded != nullptr ? std::min(length, m_chain.BufferSizes().pcm) : 0;
    if (length > 0) {
        std::memcpy(m_chain.Pcm(), decoded, length);
    }
    // At the end an empty pass with the end flag drains the rate converter's tail.
    return m_chain.Encode(length, end);
}

bool MediaConverter::CloseChain() {
    m_chain.Close();
    const bool ok = m_output.Close();
    m_outputFormat = nullptr;
    return ok;
}

void MediaConverter::Deliver(uint32_t length, uint64_t& total, uint32_t bytesPerSecond,
                             ConvertDoneSink& dialog) {
    if (length == 0) {
        return;
    }
    const uint8_t* data = m_chain.Encoded();
    m_pending.insert(m_pending.end(), data, data + length);
    if (m_pending.size() >= kWriteBytes && !WritePending()) {
        return;
    }
    total += length;
    const uint64_t seconds = bytesPerSecond != 0 ? total / bytesPerSecond : 0;
    dialog.PostConvertDone(0, static_cast<intptr_t>(seconds));
}

bool MediaConverter::WritePending() {
    // A refused write (the disk is full) ends the conversion: what follows could never be a
    // whole file.
    if (m_output.Write(m_pending.data(), static_cast<int>(m_pending.size())) < 0) {
        m_writeFailed = true;
        RequestStop();
        return false;
    }
    m_pending.clear();
    return true;
}

void MediaConverter::ConvertAll(uint32_t bytesPerSecond, ConvertDoneSink& dialog) {
    uint64_t total = 0;
    m_pending.clear();
    m_pending.reserve(kWriteBytes + m_chain.BufferSizes().encoded);
    {
        DecodeAhead chunks([this] { return m_chain.DecodeNext(); }, m_chain.Decoded(),
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
    if (!Stopped()) {
        WritePending();
    }
    m_pending = {};
}

intptr_t MediaConverter::Outcome() const {
    if (m_writeFailed) {
        return kConvertWriteFailed;
    }
    if (m_chain.SourceEndedEarly()) {
        return kConvertSourceFailed;
    }
    return Stopped() ? kConvertStopped : 0;
}

intptr_t MediaConverter::FinishChain(intptr_t outcome) {
    if (outcome != 0) {
        m_output.Abandon();
    }
    if (!CloseChain() && outcome == 0) {
        return kConvertWriteFailed;  // the file could not be completed or put in place
    }
    return outcome;
}

int MediaConverter::ConversionWorker(ConvertDoneSink& dialog) {
    WAVEFORMATEX output{};
    if (m_outputFormat != nullptr) {
        ReadWaveFormat(m_outputFormat, kWaveFormatBytes, output);
    }
    const bool open = IsOpen();
    if (open) {
        ConvertAll(output.nAvgBytesPerSec, dialog);
    }
    dialog.PostConvertDone(1, FinishChain(open ? Outcome() : kConvertSourceFailed));
    return 0;
}
