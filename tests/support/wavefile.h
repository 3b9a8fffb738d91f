#pragma once
// WAV files and tones that tests and benchmarks make at run time: little-endian byte
// builders, RIFF WAVE writers, a whole-file reader and 16-bit sine samples.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

inline void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}
inline uint16_t GetU16(const std::vector<uint8_t>& in, size_t at) {
    return static_cast<uint16_t>(in[at] | in[at + 1] << 8);
}
inline uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

// A RIFF WAVE file of a "fmt " body and the audio bytes; false when it could not be written.
bool WriteWave(const std::filesystem::path& path, const std::vector<uint8_t>& fmt,
               const std::vector<uint8_t>& data);
// The same with a 16-byte "fmt " body (18 with cbSize when the tag is not PCM); a block
// align of zero (bits 0) is written as 1.
bool WriteWave(const std::filesystem::path& path, uint16_t tag, uint16_t channels, uint32_t rate,
               uint16_t bits, const std::vector<uint8_t>& data);

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// One sample of a sine of `hz` with the given peak (of 32767), rounded half away from zero.
inline int16_t SineSample(size_t n, uint32_t rate, double hz, double peak) {
    return static_cast<int16_t>(
        std::lround(peak * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate)));
}

// Interleaved 16-bit samples: frames of `channels` samples, each channel from `sample(i, c)`.
template <typename F>
std::vector<uint8_t> Pcm16(uint32_t frames, uint16_t channels, F sample) {
    std::vector<uint8_t> out;
    out.reserve(size_t(frames) * channels * 2u);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            PutU16(out, static_cast<uint16_t>(static_cast<int16_t>(sample(i, c))));
        }
    }
    return out;
}

// The same sine in every channel, 16-bit PCM bytes.
inline std::vector<uint8_t> SinePcm16(uint32_t frames, uint16_t channels, uint32_t rate, double hz,
                                      double peak) {
    return Pcm16(frames, channels,
                 [&](uint32_t i, uint16_t) { return SineSample(i, rate, hz, peak); });
}

}  // namespace testsupport
