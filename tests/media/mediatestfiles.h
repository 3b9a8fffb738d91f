#pragma once
// Helpers for the media tests: a per-test temporary folder, byte builders for RIFF files and
// MPEG frames, and the fixture folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace mediatest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline fs::path Fixture(const char* name) {
    return fs::path(SONVEX_FIXTURES_DIR) / name;
}

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline void PutU16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutU32(Bytes& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

inline uint32_t GetU32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A chunk: four-character id, a declared size (the body's length unless given), the body.
inline Bytes Chunk(const char* id, const Bytes& body, int64_t declared = -1) {
    Bytes out(id, id + 4);
    PutU32(out,
           declared < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(declared));
    Append(out, body);
    return out;
}

// A "fmt " body of 16 bytes (18 with cbSize when extra is true).
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint32_t avgBytes, bool extra = false) {
    Bytes out;
    PutU16(out, tag);
    PutU16(out, channels);
    PutU32(out, rate);
    PutU32(out, avgBytes);
    PutU16(out, static_cast<uint16_t>(channels * bits / 8));
    PutU16(out, bits);
    if (extra) {
        PutU16(out, 0);
    }
    return out;
}

// "RIFF" size "WAVE" followed by the given chunks.
inline Bytes Riff(std::initializer_list<Bytes> chunks) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const auto& c : chunks) {
        Append(body, c);
    }
    return Chunk("RIFF", body);
}

// `count` frames of `frameBytes` each, headed by the four header bytes; zero bodies hold no
// sync pattern.
inline Bytes Frames(std::initializer_list<uint8_t> header, int count, size_t frameBytes = 417) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes frame(frameBytes, 0);
        std::copy(header.begin(), header.end(), frame.begin());
        Append(out, frame);
    }
    return out;
}

inline Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        m_dir =
            fs::temp_directory_path() / ("sonvex_media_" + std::to_string(::getpid()) + "_" + name);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const char* name, const Bytes& bytes) const {
        const fs::path p = m_dir / name;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path m_dir;
};

}  // namespace mediatest
