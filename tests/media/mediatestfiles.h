#pragma once
// Helpers for the media tests: a per-test temporary folder, byte builders for RIFF files and
// MPEG frames, and the fixture folder.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/tempdir.h"
#include "support/wavefile.h"

namespace mediatest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline fs::path Fixture(const char* name) {
    return fs::path(SONVEX_FIXTURES_DIR) / name;
}

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

using testsupport::GetU32;
using testsupport::PutU16;
using testsupport::PutU32;

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
    PutU16(out, static_cast<uint16_t>(uint32_t{channels} * bits / 8));
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
    return testsupport::ReadFile(p);
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_dir.empty()); }

    std::string Write(const char* name, const Bytes& bytes) const {
        const fs::path p = m_dir / name;
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    testsupport::TempDir m_temp;
    fs::path m_dir = m_temp.Path();
};

}  // namespace mediatest
