#include "imaadpcmdecoder.h"

#include <algorithm>
#include <cstdint>

#include "audioformat.h"
#include "platform/byteorder.h"

namespace {

constexpr int32_t kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int32_t kIndexSteps[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ChannelState {
    int32_t sample = 0;
    int32_t index = 0;

    int16_t Next(int nibble) {
        const int32_t step = kStepSizes[index];
        // The difference as the encoder quantised it: step * (nibble + 0.5) / 4, in shifts.
        int32_t diff = step >> 3;
        if ((nibble & 4) != 0) {
            diff += step;
        }
        if ((nibble & 2) != 0) {
            diff += step >> 1;
        }
        if ((nibble & 1) != 0) {
            diff += step >> 2;
        }
        sample =
            std::clamp((nibble & 8) != 0 ? sample - diff : sample + diff, INT16_MIN, INT16_MAX);
        index = std::clamp(index + kIndexSteps[nibble & 7], 0, 88);
        return static_cast<int16_t>(sample);
    }
};

}  // namespace

uint32_t ImaAdpcmDecoder::FramesPerBlock(uint32_t blockAlign, uint16_t channels) {
    const uint32_t header = 4u * channels;
    if (channels == 0 || blockAlign < header) {
        return 0;
    }
    return (blockAlign - header) / header * 8 + 1;
}

ImaAdpcmDecoder::ImaAdpcmDecoder(uint32_t blockAlign, uint16_t channels)
    : BlockDecoder(blockAlign, FramesPerBlock(blockAlign, channels), channels) {}

void ImaAdpcmDecoder::DecodeBlock(const uint8_t* block) {
    DecodeFrames(block, m_framesPerBlock);
}

void ImaAdpcmDecoder::DecodePartialBlock(const uint8_t* block, uint32_t bytes) {
    // Only whole data words: a word cut short holds samples of one channel only.
    DecodeFrames(block, FramesPerBlock(bytes, m_channels));
}

void ImaAdpcmDecoder::DecodeFrames(const uint8_t* block, uint32_t frames) {
    if (frames == 0) {
        return;
    }
    const uint32_t ch = m_channels;
    const size_t outBytes = size_t{frames} * 2 * ch;
    uint8_t* out = m_output.Extend(outBytes);
    ChannelState state[kMaxWaveChannels];
    for (uint32_t c = 0; c < ch; ++c) {
        state[c].sample = platform::LoadLe16s(block + 4 * c);
        state[c].index = std::min<int32_t>(block[4 * c + 2], 88);
        platform::StoreLe16s(out + 2 * c, static_cast<int16_t>(state[c].sample));
    }
    const uint8_t* data = block + 4 * ch;
    const uint32_t words = (frames - 1) / 8;
    for (uint32_t w = 0; w < words; ++w) {
        for (uint32_t c = 0; c < ch; ++c) {
            const uint8_t* word = data + (size_t{w} * ch + c) * 4;
            for (uint32_t k = 0; k < 8; ++k) {
                const int nibble = (k % 2 == 0) ? (word[k / 2] & 0x0F) : (word[k / 2] >> 4);
                const size_t frame = 1 + size_t{w} * 8 + k;
                platform::StoreLe16s(out + 2 * (frame * ch + c), state[c].Next(nibble));
            }
        }
    }
    m_output.Commit(outBytes);
}
