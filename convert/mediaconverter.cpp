#include "convert/mediaconverter.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "codec/waveformat.h"

namespace {

constexpr uint32_t kWaveFormatBytes = sizeof(WAVEFORMATEX);
// cbSize is 16 bits, so no record is larger than this.
constexpr uint32_t kLargestFormatBytes = kWaveFormatBytes + 0xFFFF;

// Converting a file onto itself would truncate the source before a byte of it was read.
bool SameFile(const char* a, const char* b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// Decoded blocks handed from the reading thread to the encoding one, in order. Bounded, so
// that a slow writer holds the reader back instead of piling up audio; used buffers go back
// to the reader.
class DecodedQueue {
public:
    // Blocks queued at most: enough to ride out a slow write, a few tens of kilobytes.
    static constexpr size_t kCapacity = 8;

    std::vector<uint8_t> Recycled() {
        std::lock_guard lock(m_mutex);
        if (m_free.empty()) {
            return {};
        }
        std::vector<uint8_t> block = std::move(m_free.back());
        m_free.pop_back();
        return block;
    }
    void Recycle(std::vector<uint8_t> block) {
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(block));
    }
    // False when the consumer has gone: the block is dropped.
    bool Push(std::vector<uint8_t> block) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_cancelled || m_blocks.size() < kCapacity; });
        if (m_cancelled) {
            return false;
        }
        m_blocks.push_back(std::move(block));
        m_changed.notify_all();
        return true;
    }
    // False once the producer has finished and every block was taken.
    bool Pop(std::vector<uint8_t>& block) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_finished || !m_blocks.empty(); });
        if (m_blocks.empty()) {
            return false;
        }
        block = std::move(m_blocks.front());
        m_blocks.pop_front();
        m_changed.notify_all();
        return true;
    }
    void Finish() {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }
    void Cancel() {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_blocks;
    std::vector<std::vector<uint8_t>> m_free;
    bool m_finished = false;
    bool m_cancelled = false;
};

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

    if (!OpenStages()) {
        CloseChain();
        return false;
    }
    if (!PrepareStage(0, static_cast<uint32_t>(m_sourceInfo.chunkBytes)) ||
        !PrepareStage(1, m_destLength[0]) || !PrepareStage(2, m_destLength[1])) {
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
    return acmStreamOpen(&m_stream[0], nullptr, m_sourceInfo.format.get(), sourceBytes, pcmA.get(),
                         recordSize, 0) == MMSYSERR_NOERROR &&
           acmStreamOpen(&m_stream[1], nullptr, pcmA.get(), recordSize, pcmB.get(), recordSize,
                         0) == MMSYSERR_NOERROR &&
           acmStreamOpen(&m_stream[2], nullptr, pcmB.get(), recordSize, m_outputFormat, recordSize,
                         0) == MMSYSERR_NOERROR;
}

bool MediaConverter::PrepareStage(int stage, uint32_t sourceLength) {
    uint32_t destLength = 0;
    if (sourceLength == 0 ||
        acmStreamSize(m_stream[stage], sourceLength, &destLength, ACM_STREAMSIZEF_SOURCE) !=
            MMSYSERR_NOERROR ||
        destLength == 0) {
        return false;
    }
    uint8_t* source = nullptr;
    if (stage == 0) {
        m_sourceBuffer = std::make_unique<uint8_t[]>(sourceLength);
        m_sourceLength = sourceLength;
        source = m_sourceBuffer.get();
    } else if (stage == 1) {
        m_mixSource = std::make_unique<uint8_t[]>(sourceLength);
        source = m_mixSource.get();
    } else {
        source = m_destBuffer[stage - 1].get();
    }
    m_destBuffer[stage] = std::make_unique<uint8_t[]>(destLength);

    ACMSTREAMHEADER& header = m_header[stage];
    header = ACMSTREAMHEADER{};
    header.cbStruct = ACMSTREAMHEADER_SIZE;
    header.pbSrc = source;
    header.cbSrcLength = sourceLength;
    header.pbDst = m_destBuffer[stage].get();
    header.cbDstLength = destLength;
    if (acmStreamPrepareHeader(m_stream[stage], &header, 0) != MMSYSERR_NOERROR) {
        m_destBuffer[stage].reset();
        if (stage == 0) {
            m_sourceBuffer.reset();
            m_sourceLength = 0;
        } else if (stage == 1) {
            m_mixSource.reset();
        }
        header = ACMSTREAMHEADER{};
        return false;
    }
    m_destLength[stage] = destLength;
    return true;
}

void MediaConverter::UnprepareStage(int stage) {
    if (m_destLength[stage] == 0) {
        return;
    }
    acmStreamUnprepareHeader(m_stream[stage], &m_header[stage], 0);
    m_header[stage] = ACMSTREAMHEADER{};
    m_destBuffer[stage].reset();
    if (stage == 0) {
        m_sourceBuffer.reset();
        m_sourceLength = 0;
    } else if (stage == 1) {
        m_mixSource.reset();
    }
    m_destLength[stage] = 0;
}

void MediaConverter::CloseStages() {
    for (HACMSTREAM& stream : m_stream) {
        if (stream != nullptr) {
            acmStreamClose(stream, 0);
            stream = nullptr;
        }
    }
}

bool MediaConverter::ConvertBlock(std::unique_ptr<uint8_t[]>& out, uint32_t& outLength) {
    outLength = 0;
    out.reset();
    if (!IsOpen() || m_tailDone) {
        return false;
    }
    const int64_t decoded = DecodeChunk();
    if (decoded < 0) {
        m_tailDone = true;
        return EncodeDecoded(nullptr, 0, true, out, outLength);
    }
    return decoded == 0 || EncodeDecoded(m_destBuffer[0].get(), static_cast<uint32_t>(decoded),
                                         false, out, outLength);
}

int64_t MediaConverter::DecodeChunk() {
    if (!IsOpen() || m_destLength[0] == 0 || m_inputState == InputState::Done) {
        return -1;
    }
    const bool draining = m_inputState == InputState::Draining;
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (draining) {
        m_header[0].cbSrcLength = 0;  // only what the decoder still holds
    } else {
        const int wanted = static_cast<int>(m_sourceLength);
        const int got = m_input.Read(m_sourceBuffer.get(), wanted, -1);
        if (got != wanted) {
            // End of file or a read error: the last, partial chunk is decoded too, and the
            // decoder drained.
            m_header[0].cbSrcLength = got > 0 ? static_cast<uint32_t>(got) : 0;
            flags |= ACM_STREAMCONVERTF_END;
            m_inputState = InputState::Draining;
        }
    }
    m_header[0].cbDstLengthUsed = 0;
    acmStreamConvert(m_stream[0], &m_header[0], flags);
    m_header[0].cbSrcLength = m_sourceLength;
    const uint32_t used = std::min(m_header[0].cbDstLengthUsed, m_destLength[0]);
    if (draining && used == 0) {
        m_inputState = InputState::Done;
        return -1;
    }
    return used;
}

bool MediaConverter::EncodeDecoded(const uint8_t* decoded, uint32_t length, bool end,
                                   std::unique_ptr<uint8_t[]>& out, uint32_t& outLength) {
    outLength = 0;
    out.reset();
    if (length > 0 && (length != m_header[1].cbSrcLength || m_destLength[1] == 0)) {
        UnprepareStage(1);
        if (!PrepareStage(1, length)) {
            return false;
        }
    }
    if (m_destLength[1] == 0) {
        return false;
    }
    if (length > 0) {
        std::memcpy(m_mixSource.get(), decoded, length);
    }

    // At the end an empty pass with the end flag drains the rate converter's tail.
    const uint32_t prepared = m_header[1].cbSrcLength;
    m_header[1].cbSrcLength = length;
    m_header[1].cbDstLengthUsed = 0;
    acmStreamConvert(m_stream[1], &m_header[1],
                     ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0u));
    m_header[1].cbSrcLength = prepared;
    const uint32_t resampled = std::min(m_header[1].cbDstLengthUsed, m_destLength[1]);
    if (resampled == 0) {
        return true;
    }
    // Stage 3 reads stage 2's buffer: a re-prepared stage 2 has moved it.
    if (resampled != m_header[2].cbSrcLength || m_header[2].pbSrc != m_destBuffer[1].get() ||
        m_destLength[2] == 0) {
        UnprepareStage(2);
        if (!PrepareStage(2, resampled)) {
            return false;
        }
    }

    acmStreamConvert(m_stream[2], &m_header[2], ACM_STREAMCONVERTF_BLOCKALIGN);
    const uint32_t encoded = std::min(m_header[2].cbDstLengthUsed, m_destLength[2]);
    if (encoded > 0) {
        out = std::make_unique_for_overwrite<uint8_t[]>(encoded);
        std::memcpy(out.get(), m_destBuffer[2].get(), encoded);
        outLength = encoded;
    }
    return true;
}

bool MediaConverter::CloseChain() {
    for (int stage = 0; stage < kStages; ++stage) {
        UnprepareStage(stage);
    }
    CloseStages();
    m_input.Close();
    m_output.Close();
    m_outputFormat = nullptr;
    return true;
}

void MediaConverter::Deliver(const uint8_t* data, uint32_t length, uint64_t& total,
                             uint32_t bytesPerSecond, ConvertDoneSink& dialog) {
    // A short write (the disk filled up) is retried for the rest; a refused one ends the
    // conversion: what follows could never be a whole file.
    uint32_t written = 0;
    while (written < length) {
        const int n = m_output.Write(data + written, static_cast<int>(length - written));
        if (n <= 0) {
            m_writeFailed = true;
            RequestStop();
            return;
        }
        written += static_cast<uint32_t>(n);
    }
    total += length;
    const uint64_t seconds = bytesPerSecond != 0 ? total / bytesPerSecond : 0;
    dialog.PostConvertDone(0, static_cast<intptr_t>(seconds));
}

void MediaConverter::ConvertSequential(uint32_t bytesPerSecond, ConvertDoneSink& dialog) {
    uint64_t total = 0;
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t length = 0;
    while (!m_stopRequested.load(std::memory_order_relaxed) && ConvertBlock(buffer, length)) {
        if (length > 0) {
            Deliver(buffer.get(), length, total, bytesPerSecond, dialog);
            buffer.reset();
        }
    }
}

void MediaConverter::ConvertPipelined(uint32_t bytesPerSecond, ConvertDoneSink& dialog) {
    DecodedQueue queue;
    // Until the join below the helper alone touches the input and stage 1; this thread
    // touches stages 2 and 3 and the output.
    auto decode = [this, &queue] {
        while (!m_stopRequested.load(std::memory_order_relaxed)) {
            const int64_t decoded = DecodeChunk();
            if (decoded < 0) {
                break;
            }
            if (decoded == 0) {
                continue;
            }
            std::vector<uint8_t> block = queue.Recycled();
            const uint8_t* data = m_destBuffer[0].get();
            block.assign(data, data + decoded);
            if (!queue.Push(std::move(block))) {
                break;
            }
        }
        queue.Finish();
    };
    std::thread helper;
    try {
        helper = std::thread(decode);
    } catch (const std::system_error&) {
        ConvertSequential(bytesPerSecond, dialog);
        return;
    }

    uint64_t total = 0;
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t length = 0;
    std::vector<uint8_t> block;
    bool ok = true;
    while (!m_stopRequested.load(std::memory_order_relaxed) && queue.Pop(block)) {
        ok =
            EncodeDecoded(block.data(), static_cast<uint32_t>(block.size()), false, buffer, length);
        queue.Recycle(std::move(block));
        block = {};
        if (!ok) {
            break;
        }
        if (length > 0) {
            Deliver(buffer.get(), length, total, bytesPerSecond, dialog);
            buffer.reset();
        }
    }
    queue.Cancel();
    helper.join();
    // The whole source was decoded: the rate converter's tail completes the output.
    if (ok && !m_stopRequested.load(std::memory_order_relaxed) &&
        EncodeDecoded(nullptr, 0, true, buffer, length) && length > 0) {
        Deliver(buffer.get(), length, total, bytesPerSecond, dialog);
    }
}

int MediaConverter::ConversionWorker(ConvertDoneSink& dialog) {
    WAVEFORMATEX output{};
    if (m_outputFormat != nullptr) {
        ReadWaveFormat(m_outputFormat, kWaveFormatBytes, output);
    }
    if (IsOpen() && m_destLength[0] != 0) {
        ConvertPipelined(output.nAvgBytesPerSec, dialog);
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
