#include "media/mp3framescanner.h"

#include <algorithm>
#include <cstring>

#include "media/mediadescription.h"
#include "platform/byteorder.h"

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
constexpr uint32_t kPaddingBit = 1u << 17;

// kbit/s by bit-rate index 1-14 (ISO/IEC 11172-3, low sampling frequencies ISO/IEC 13818-3).
// Columns: MPEG 1 Layer I, II, III; MPEG 2/2.5 Layer I; MPEG 2/2.5 Layers II and III.
constexpr int kBitrates[5][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

// Hz by version (1, 2, 3) and sample-rate index 0-2.
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
};

uint32_t SamplesPerFrame(const Mp3FrameInfo& info) {
    return info.layer == 1 ? 384 : (info.layer == 3 && info.version != 1 ? 576 : 1152);
}

// The frame count a Xing/Info or VBRI header in the first frame gives; 0 when it has none.
uint32_t TaggedFrames(platform::ByteSource& bytes, const Mp3FrameInfo& info, int64_t offset) {
    uint8_t frame[64] = {};
    if (!bytes.Seek(static_cast<uint64_t>(offset)) ||
        bytes.Read(frame, sizeof frame) != static_cast<int64_t>(sizeof frame)) {
        return 0;
    }
    // Xing/Info follows the side information, whose size the version and channels give.
    const size_t side =
        info.version == 1 ? (info.channels == 1 ? 17 : 32) : (info.channels == 1 ? 9 : 17);
    const uint8_t* xing = frame + 4 + side;
    if ((std::memcmp(xing, "Xing", 4) == 0 || std::memcmp(xing, "Info", 4) == 0) &&
        (platform::LoadBe32(xing + 4) & 1u) != 0) {
        return platform::LoadBe32(xing + 8);
    }
    const uint8_t* vbri = frame + 4 + 32;
    return std::memcmp(vbri, "VBRI", 4) == 0 ? platform::LoadBe32(vbri + 14) : 0;
}

// The stream's length in milliseconds: from the frame count where the file gives it, else
// from the audio's bytes at the bit rate (1000 bits a kbit), leaving out what comes before the
// first frame (an ID3v2 tag) and an ID3v1 tag at the end.
int64_t StreamMs(platform::ByteSource& bytes, const Mp3FrameInfo& info, int64_t length) {
    const uint32_t frames = TaggedFrames(bytes, info, info.firstFrameOffset);
    if (frames > 0) {
        return static_cast<int64_t>(
            static_cast<double>(frames) * SamplesPerFrame(info) * 1000.0 / info.sampleRate + 0.5);
    }
    int64_t audio = length - info.firstFrameOffset;
    uint8_t tag[3] = {};
    if (length >= 128 && bytes.Seek(static_cast<uint64_t>(length - 128)) &&
        bytes.Read(tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0) {
        audio -= 128;
    }
    return static_cast<int64_t>(
        static_cast<double>(std::max<int64_t>(audio, 0)) * 8.0 / info.bitrateKbps + 0.5);
}

}  // namespace

Mp3FrameScanner::Mp3FrameScanner() : m_buffer(kBufferBytes) {}

bool Mp3FrameScanner::SameStream(uint32_t a, uint32_t b) {
    return ((a ^ b) & ~kPaddingBit) == 0;
}

bool Mp3FrameScanner::IsCandidate(const uint8_t* b) {
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && (b[1] & 0x06) != 0 && (b[1] & 0x18) != 0x08 &&
           (b[2] & 0x0C) != 0x0C && (b[2] >> 4) != 15 && (b[2] >> 4) != 0;
}

bool Mp3FrameScanner::Decode(uint32_t header, Mp3FrameInfo& info) {
    const uint8_t b1 = static_cast<uint8_t>(header >> 8);
    const uint8_t b2 = static_cast<uint8_t>(header >> 16);
    const uint8_t b3 = static_cast<uint8_t>(header >> 24);

    static constexpr int kVersionOf[4] = {3, 0, 2, 1};  // 0 = reserved
    static constexpr int kLayerOf[4] = {0, 3, 2, 1};
    const int version = kVersionOf[(b1 >> 3) & 3];
    const int layer = kLayerOf[(b1 >> 1) & 3];
    const int bitrateIndex = b2 >> 4;
    const int rateIndex = (b2 >> 2) & 3;
    if (version == 0 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return false;
    }
    const int column = version == 1 ? layer - 1 : (layer == 1 ? 3 : 4);
    info.version = version;
    info.layer = layer;
    info.bitrateKbps = kBitrates[column][bitrateIndex];
    info.sampleRate = kSampleRates[version - 1][rateIndex];
    info.channels = (b3 >> 6) == 3 ? 1 : 2;
    return true;
}

void Mp3FrameScanner::Reset() {
    m_begin = 0;
    m_end = 0;
    m_bufferOffset = 0;
    m_started = false;
    m_exhausted = false;
}

// Keeps the unread tail (fewer than 4 bytes once the windows are tested) and appends what
// the source gives. False when nothing new came (end of file or a read error).
bool Mp3FrameScanner::Fill(platform::ByteSource& bytes) {
    if (m_exhausted) {
        return false;
    }
    const size_t tail = m_end - m_begin;
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, tail);
    m_bufferOffset += static_cast<uint32_t>(m_begin);
    m_begin = 0;
    m_end = tail;
    const int64_t n = bytes.Read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (n <= 0) {
        m_exhausted = true;
        return false;
    }
    m_end += static_cast<size_t>(n);
    return true;
}

bool Mp3FrameScanner::FindNextHeader(platform::ByteSource& bytes, uint32_t& header,
                                     uint32_t& offset) {
    if (!m_started) {
        m_started = true;
        m_bufferOffset = static_cast<uint32_t>(bytes.Tell());  // the reader bounds sources
    }
    for (;;) {
        while (m_begin + 4 <= m_end) {
            const uint8_t* b = m_buffer.data() + m_begin;
            if (IsCandidate(b)) {
                header = platform::LoadLe32(b);
                offset = m_bufferOffset + static_cast<uint32_t>(m_begin);
                m_begin += 4;  // candidates never overlap
                return true;
            }
            ++m_begin;
        }
        if (!Fill(bytes)) {
            return false;
        }
    }
}

bool Mp3FrameScanner::Scan(platform::ByteSource& bytes, Mp3FrameInfo& info,
                           std::string& description) {
    Reset();
    uint32_t headers[kCandidates];
    uint32_t offsets[kCandidates];
    int counts[kCandidates] = {};
    for (int i = 0; i < kCandidates; ++i) {
        if (!FindNextHeader(bytes, headers[i], offsets[i])) {
            Reset();
            return false;
        }
        for (int j = 0; j < i; ++j) {
            if (SameStream(headers[j], headers[i])) {
                ++counts[j];
                counts[i] = counts[j];
            }
        }
    }
    Reset();

    int best = 0;
    int bestCount = 0;
    for (int i = 0; i < kCandidates; ++i) {
        if (counts[i] > bestCount) {
            bestCount = counts[i];
            best = i;
        }
    }
    if (bestCount < kMinVotes) {
        return false;
    }
    // Every candidate passed the header test, so the decode cannot meet a reserved field.
    if (!Decode(headers[best], info)) {
        return false;
    }
    info.firstFrameOffset = static_cast<int32_t>(offsets[best]);
    const int64_t fileLength = bytes.Size();
    if (fileLength < 0) {
        return false;
    }
    info.durationMs = StreamMs(bytes, info, fileLength);
    info.durationSeconds = static_cast<int32_t>((info.durationMs + 500) / 1000);
    BuildMp3Description(description, static_cast<uint32_t>(fileLength), info);
    return true;
}
