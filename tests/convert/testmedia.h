#pragma once
// Media the conversion tests make at run time: WAV files of any format tag, tones, and a
// reader for the converter's output.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testmedia {

inline void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}
inline uint32_t GetU32(const std::vector<uint8_t>& in, size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}
inline uint16_t GetU16(const std::vector<uint8_t>& in, size_t at) {
    return static_cast<uint16_t>(in[at] | in[at + 1] << 8);
}

// A RIFF WAVE file with a 16-byte "fmt " body (18 with cbSize when the tag is not PCM).
inline void WriteWave(const std::filesystem::path& path, uint16_t tag, uint16_t channels,
                      uint32_t rate, uint16_t bits, const std::vector<uint8_t>& data) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    const uint32_t fmtBytes = tag == 1 ? 16 : 18;
    std::vector<uint8_t> file;
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    PutU32(file, 4 + 8 + fmtBytes + 8 + static_cast<uint32_t>(data.size()));
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(file, fmtBytes);
    PutU16(file, tag);
    PutU16(file, channels);
    PutU32(file, rate);
    PutU32(file, rate * (align ? align : 1));
    PutU16(file, align ? align : 1);
    PutU16(file, bits);
    if (fmtBytes == 18) {
        PutU16(file, 0);
    }
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    PutU32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
}

// Interleaved 16-bit samples: frames of `channels` samples, each channel from `sample`.
template <typename F>
std::vector<uint8_t> Pcm16(uint32_t frames, uint16_t channels, F sample) {
    std::vector<uint8_t> out;
    out.reserve(frames * channels * 2u);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            PutU16(out, static_cast<uint16_t>(static_cast<int16_t>(sample(i, c))));
        }
    }
    return out;
}

inline std::vector<uint8_t> Tone(uint32_t frames, uint16_t channels, uint32_t rate, double hz,
                                 double amplitude) {
    return Pcm16(frames, channels, [&](uint32_t i, uint16_t) {
        return static_cast<int>(
            std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * i / rate)));
    });
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
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// G.711 mu-law to linear 16-bit.
inline int MulawToLinear(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    int t = ((code & 0x0F) << 3) + 0x84;
    t <<= (code & 0x70) >> 4;
    return (code & 0x80) ? 0x84 - t : t - 0x84;
}

inline double Rms(const std::vector<double>& v, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += v[i] * v[i];
    }
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// A fresh temp folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sonvexconvXXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Encodes a WAV into an MP3 with the command-line encoder; false when it is missing.
inline bool EncodeMp3(const std::filesystem::path& wav, const std::filesystem::path& mp3,
                      int kbps = 128) {
    const std::string command = "lame --quiet --cbr -b " + std::to_string(kbps) + " '" +
                                wav.string() + "' '" + mp3.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(mp3);
}

}  // namespace testmedia
