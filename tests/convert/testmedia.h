#pragma once
// Media the conversion tests make at run time: WAV files of any format tag, tones, and a
// reader for the converter's output.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/mulaw.h"
#include "support/tempdir.h"
#include "support/wavefile.h"

namespace testmedia {

using testsupport::GetU16;
using testsupport::GetU32;
using testsupport::MulawToLinear;
using testsupport::Pcm16;
using testsupport::PutU16;
using testsupport::PutU32;
using testsupport::TempDir;
using testsupport::WriteWave;

inline std::vector<uint8_t> Tone(uint32_t frames, uint16_t channels, uint32_t rate, double hz,
                                 double amplitude) {
    return testsupport::SinePcm16(frames, channels, rate, hz, amplitude * 32767.0);
}

// `times` copies of a block end to end: long sources without computing every sample.
inline std::vector<uint8_t> Repeat(const std::vector<uint8_t>& block, size_t times) {
    std::vector<uint8_t> out;
    out.reserve(block.size() * times);
    for (size_t i = 0; i < times; ++i) {
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
    return testsupport::ReadFile(path);
}

inline double Rms(const std::vector<double>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += v[i] * v[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// Encodes a WAV into an MP3 with the command-line encoder; false when it is missing.
inline bool EncodeMp3(const std::filesystem::path& wav, const std::filesystem::path& mp3,
                      int kbps = 128) {
    const std::string command = "lame --quiet --cbr -b " + std::to_string(kbps) + " '" +
                                wav.string() + "' '" + mp3.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(mp3);
}

}  // namespace testmedia
