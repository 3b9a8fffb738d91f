#include "msadpcmdecoder.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "audioformat.h"
#include "platform/byteorder.h"

namespace {

constexpr int32_t kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                     768, 614, 512, 409, 307, 230, 230, 230};
constexpr int32_t kStandardCoefs[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                          {240, 0}, {460, -208}, {392, -232}};

// Corrupt blocks can drive the step size up without end; held below this, every step and
// prediction stays far inside 64 bits and the output is clamped to 16 bits anyway.
constexpr int64_t kMaxDelta = INT32_MAX / 768;

struct ChannelState {
    int64_t coef1 = 0;
    int64_t coef2 = 0;
    int64_t delta = 16;
    int64_t sample1 = 0;
    int64_t sample2 = 0;

    int16_t Next(int nibble) {
        const int64_t signedNibble = nibble >= 8 ? nibble - 16 : nibble;
        // Arithmetic shift: the predictor rounds toward minus infinity.
        const int64_t predicted = (sample1 * coef1 + sample2 * coef2) >> 8;
        const auto out = static_cast<int16_t>(
            std::clamp<int64_t>(predicted + signedNibble * delta, INT16_MIN, INT16_MAX));
        sample2 = sample1;
        sample1 = out;
        delta = std::clamp<int64_t>((delta * kAdaptation[nibble]) >> 8, 16, kMaxDelta);
        return out;
    }
};

}  // namespace

uint32_t MsAdpcmDecoder::FramesPerBlock(uint32_t blockAlign, uint16_t channels) {
    const uint32_t header = 7u * channels;
    if (channels == 0 || blockAlign <= header) {
        return 0;
    }
    return (blockAlign - header) * 2 / channels + 2;
}

MsAdpcmDecoder::MsAdpcmDecoder(uint32_t blockAlign, uint16_t channels,
                               const std::vector<uint8_t>& extra)
    : BlockDecoder(blockAlign, FramesPerBlock(blockAlign, channels), channels) {
    if (extra.size() >= 4) {
        const uint32_t count = platform::LoadLe16(extra.data() + 2);
        const uint32_t present = static_cast<uint32_t>((extra.size() - 4) / 4);
        for (uint32_t i = 0; i < count && i < present; ++i) {
            const uint8_t* p = extra.data() + 4 + 4 * i;
            m_coefs.push_back({platform::LoadLe16s(p), platform::LoadLe16s(p + 2)});
        }
    }
    if (m_coefs.empty()) {
        for (const auto& c : kStandardCoefs) {
            m_coefs.push_back({c[0], c[1]});
        }
    }
}

void MsAdpcmDecoder::DecodeBlock(const uint8_t* block) {
    DecodeFrames(block, m_framesPerBlock);
}

void MsAdpcmDecoder::DecodePartialBlock(const uint8_t* block, uint32_t bytes) {
    DecodeFrames(block, FramesPerBlock(bytes, m_channels));
}

void MsAdpcmDecoder::DecodeFrames(const uint8_t* block, uint32_t frames) {
    if (frames < 2) {
        return;  // not even the header's two samples
    }
    const uint32_t ch = m_channels;
    const size_t outBytes = size_t{frames} * 2 * ch;
    auto* out = m_output.Extend(outBytes);
    ChannelState state[kMaxWaveChannels];
    bool valid = true;
    for (uint32_t c = 0; c < ch; ++c) {
        const uint32_t index = block[c];
        if (index >= m_coefs.size()) {
            valid = false;
            break;
        }
        state[c].coef1 = m_coefs[index][0];
        state[c].coef2 = m_coefs[index][1];
        state[c].delta = platform::LoadLe16s(block + ch + 2 * c);
        state[c].sample1 = platform::LoadLe16s(block + 3 * ch + 2 * c);
        state[c].sample2 = platform::LoadLe16s(block + 5 * ch + 2 * c);
    }
    if (!valid) {
        for (size_t i = 0; i < outBytes; ++i) {
            out[i] = 0;
        }
        m_output.Commit(outBytes);
        return;
    }
    auto put = [&out](size_t index, int64_t v) {
        platform::StoreLe16s(out + 2 * index, static_cast<int16_t>(v));
    };
    // The header carries the first two samples of each channel, older one first.
    for (uint32_t c = 0; c < ch; ++c) {
        put(c, state[c].sample2);
        put(ch + c, state[c].sample1);
    }
    const uint8_t* data = block + 7 * ch;
    const size_t nibbles = (size_t{frames} - 2) * ch;
    for (size_t n = 0; n < nibbles; ++n) {
        const uint8_t byte = data[n / 2];
        const int nibble = (n % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        const uint32_t c = static_cast<uint32_t>(n % ch);
        put(2 * ch + n, state[c].Next(nibble));
    }
    m_output.Commit(outBytes);
}
