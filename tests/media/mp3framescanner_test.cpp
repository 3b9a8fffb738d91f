#include "media/mp3framescanner.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "mediatestfiles.h"
#include "platform/bytesource.h"

namespace {

// Audio bytes at a bit rate of kbps x 1000 bit/s, rounded to whole seconds.
int Seconds(size_t bytes, int kbps) {
    return static_cast<int>(static_cast<double>(bytes) * 8.0 / (kbps * 1000.0) + 0.5);
}

using namespace mediatest;

// MPEG 1 Layer III, 128 kbit/s, 44100 Hz, joint stereo: 417-byte frames.
#define JS128 0xFF, 0xFB, 0x90, 0x64

struct DecodeCase {
    uint8_t b[4];
    int version, layer, kbps, rate, channels;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, TablesGiveVersionLayerRateAndChannels) {
    const DecodeCase& c = GetParam();
    ASSERT_TRUE(Mp3FrameScanner::IsCandidate(c.b));
    Mp3FrameInfo info;
    ASSERT_TRUE(Mp3FrameScanner::Decode(c.b[0] | c.b[1] << 8 | c.b[2] << 16 | c.b[3] << 24, info));
    EXPECT_EQ(std::tie(info.version, info.layer, info.bitrateKbps, info.sampleRate, info.channels),
              std::tie(c.version, c.layer, c.kbps, c.rate, c.channels));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DecodeTest,
    ::testing::Values(DecodeCase{{JS128}, 1, 3, 128, 44100, 2},
                      DecodeCase{{0xFF, 0xFD, 0xA8, 0x00}, 1, 2, 192, 32000, 2},
                      DecodeCase{{0xFF, 0xFF, 0xE4, 0x80}, 1, 1, 448, 48000, 2},
                      DecodeCase{{0xFF, 0xF7, 0xE4, 0x00}, 2, 1, 256, 24000, 2},
                      DecodeCase{{0xFF, 0xF5, 0x18, 0x40}, 2, 2, 8, 16000, 2},
                      DecodeCase{{0xFF, 0xE3, 0x44, 0xC0}, 3, 3, 32, 12000, 1}));

TEST(Mp3FrameScannerRules, HeaderTestAndPaddingBlindComparison) {
    const uint8_t rejected[][4] = {
        {0xFE, 0xFB, 0x90, 0x64},  // first sync byte
        {0xFF, 0xDB, 0x90, 0x64},  // remaining sync bits
        {0xFF, 0xF9, 0x90, 0x64},  // reserved layer
        {0xFF, 0xEB, 0x90, 0x64},  // reserved version
        {0xFF, 0xFB, 0x9C, 0x64},  // reserved sample rate
        {0xFF, 0xFB, 0xF0, 0x64},  // invalid bit rate
        {0xFF, 0xFB, 0x00, 0x64},  // free format
    };
    for (const auto& b : rejected) {
        EXPECT_FALSE(Mp3FrameScanner::IsCandidate(b)) << std::hex << int(b[1]) << int(b[2]);
    }
    const uint8_t anyLastByte[4] = {0xFF, 0xFB, 0x90, 0xFF};
    EXPECT_TRUE(Mp3FrameScanner::IsCandidate(anyLastByte));

    const uint32_t h = 0x6490FBFF;
    EXPECT_TRUE(Mp3FrameScanner::SameStream(h, h | 1u << 17));
    for (int bit = 0; bit < 32; ++bit) {
        if (bit != 17) {
            EXPECT_FALSE(Mp3FrameScanner::SameStream(h, h ^ 1u << bit)) << bit;
        }
    }
}

class Mp3ScanTest : public TempDirTest {
protected:
    // Scans bytes from their start; description starts as a marker to see it left alone.
    bool Scan(const Bytes& bytes, Mp3FrameInfo& info) {
        platform::MemoryByteSource source(bytes.data(), bytes.size());
        m_description = "untouched";
        Mp3FrameScanner scanner;
        const bool ok = scanner.Scan(source, info, m_description);
        if (!ok) {
            EXPECT_EQ(m_description, "untouched");
        }
        return ok;
    }
    std::string m_description;
};

TEST_F(Mp3ScanTest, CbrFileAndLeadingTag) {
    Mp3FrameInfo info;
    const Bytes frames = Frames({JS128}, 120);
    ASSERT_TRUE(Scan(frames, info));
    EXPECT_EQ(info.firstFrameOffset, 0);
    EXPECT_EQ(info.durationSeconds, Seconds(frames.size(), 128));
    EXPECT_NE(m_description.find("\r\n\r\nFirst frame at byte: 0\r\n\r\n"), std::string::npos);

    // A 4096-byte tag without a sync pattern moves the first frame; the length leaves it out.
    Bytes tagged(4096, 'I');
    Append(tagged, Frames({JS128}, 120));
    tagged.resize(4'000'000, 0);
    ASSERT_TRUE(Scan(tagged, info));
    EXPECT_EQ(info.firstFrameOffset, 4096);
    EXPECT_EQ(info.durationSeconds, 250);  // 3,995,904 bytes at 128,000 bit/s: 249.74 s
}

TEST_F(Mp3ScanTest, VoteIgnoresPaddingButSeparatesOtherBits) {
    // 40 frames of one mode extension, then 60 of another, half of them padded: the 60
    // win only when padding is ignored.
    Bytes bytes = Frames({0xFF, 0xFB, 0x90, 0x44}, 40);
    for (int i = 0; i < 30; ++i) {
        Append(bytes, Frames({0xFF, 0xFB, 0x92, 0x64}, 1, 418));
        Append(bytes, Frames({JS128}, 1));
    }
    Mp3FrameInfo info;
    ASSERT_TRUE(Scan(bytes, info));
    EXPECT_EQ(info.firstFrameOffset, 40 * 417);

    // Equal counts: the value met first wins (mono frame first, then stereo first).
    Bytes monoFirst, stereoFirst;
    for (int i = 0; i < 50; ++i) {
        Append(monoFirst, Frames({0xFF, 0xFB, 0x90, 0xC4}, 1));
        Append(monoFirst, Frames({JS128}, 1));
        Append(stereoFirst, Frames({JS128}, 1));
        Append(stereoFirst, Frames({0xFF, 0xFB, 0x90, 0xC4}, 1));
    }
    ASSERT_TRUE(Scan(monoFirst, info));
    EXPECT_EQ(info.channels, 1);
    ASSERT_TRUE(Scan(stereoFirst, info));
    EXPECT_EQ(info.channels, 2);

    // Variable bit rate: the most frequent rate drives the duration.
    Bytes vbr;
    for (int i = 0; i < 40; ++i) {
        Append(vbr, Frames({JS128}, 1));
        Append(vbr, Frames({0xFF, 0xFB, 0xA0, 0x64}, 2, 522));
    }
    ASSERT_TRUE(Scan(vbr, info));
    EXPECT_EQ(info.bitrateKbps, 160);
    EXPECT_EQ(info.firstFrameOffset, 417);
    EXPECT_EQ(info.durationSeconds, Seconds(vbr.size() - 417, 160));
}

TEST_F(Mp3ScanTest, NeedsHundredCandidatesAndSixOfOneValue) {
    Mp3FrameInfo info;
    EXPECT_FALSE(Scan(Frames({JS128}, 99), info));
    EXPECT_TRUE(Scan(Frames({JS128}, 100), info));

    // 100 candidates differing in byte 3: 20 values five times each, then one value six times.
    auto spread = [](int topCount) {
        Bytes out = Frames({0xFF, 0xFB, 0x90, 0x00}, topCount);
        for (int i = topCount; i < 100; ++i) {
            Append(out, Frames({0xFF, 0xFB, 0x90, static_cast<uint8_t>(1 + i % 19)}, 1));
        }
        return out;
    };
    EXPECT_FALSE(Scan(spread(5), info));
    ASSERT_TRUE(Scan(spread(6), info));
    EXPECT_EQ(info.firstFrameOffset, 0);

    // Forty frames fail alone, and pass once false candidates inside them make up the count.
    EXPECT_FALSE(Scan(Frames({JS128}, 40), info));
    Bytes padded = Frames({JS128}, 40);
    for (int f = 0; f < 40; ++f) {
        const size_t at = f * 417 + 100;
        const uint8_t junk[] = {0xFF, 0xF3, 0x18, static_cast<uint8_t>(f), 0,
                                0xFF, 0xF3, 0x28, static_cast<uint8_t>(f)};
        std::copy(std::begin(junk), std::end(junk), padded.begin() + at);
    }
    ASSERT_TRUE(Scan(padded, info));
    EXPECT_EQ(std::tie(info.version, info.bitrateKbps), std::make_tuple(1, 128));
}

TEST_F(Mp3ScanTest, LayerTwoPassesAndFreeFormatFails) {
    Mp3FrameInfo info;
    ASSERT_TRUE(Scan(Frames({0xFF, 0xFD, 0xA0, 0x04}, 100, 626), info));
    EXPECT_NE(m_description.find("\r\n\r\nMPEG 1 Layer II\r\n\r\n"), std::string::npos);
    EXPECT_FALSE(Scan(Frames({0xFF, 0xFB, 0x00, 0x64}, 150), info));
}

// The buffered search must find exactly the candidates of a 4-byte read / 3-byte step back
// walk over the bytes, including windows that straddle buffer refills.
TEST_F(Mp3ScanTest, BufferedSearchMatchesByteWalk) {
    std::mt19937 rng(7);
    Bytes bytes(300'000);
    for (auto& b : bytes) {
        const uint32_t r = rng();
        b = (r & 7) == 0 ? 0xFF : static_cast<uint8_t>(r >> 8);
    }
    platform::MemoryByteSource source(bytes.data(), bytes.size());
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (long pos = 3; pos + 4 <= static_cast<long>(bytes.size());) {
        if (Mp3FrameScanner::IsCandidate(&bytes[pos])) {
            expected.emplace_back(GetU32(bytes, pos), pos);
            pos += 4;
        } else {
            ++pos;
        }
    }
    ASSERT_GT(expected.size(), 200u);
    source.Seek(3);
    Mp3FrameScanner scanner;
    std::vector<std::pair<uint32_t, uint32_t>> found;
    uint32_t header, offset;
    while (scanner.FindNextHeader(source, header, offset)) {
        found.emplace_back(header, offset);
    }
    EXPECT_EQ(found, expected);
}

struct FixtureCase {
    const char* name;
    int version, kbps, rate, channels;
    const char* versionLine;
};

class Mp3FixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(Mp3FixtureTest, EncodedTonesScan) {
    const FixtureCase& c = GetParam();
    std::string error;
    const auto file = platform::FileByteSource::Open(Fixture(c.name).c_str(), error);
    ASSERT_TRUE(file) << error;
    Mp3FrameInfo info;
    std::string text;
    ASSERT_TRUE(Mp3FrameScanner().Scan(*file, info, text));
    const int64_t length = file->Size();
    EXPECT_EQ(std::tie(info.version, info.layer, info.bitrateKbps, info.sampleRate, info.channels,
                       info.firstFrameOffset),
              std::make_tuple(c.version, 3, c.kbps, c.rate, c.channels, 0));
    EXPECT_EQ(info.durationSeconds, Seconds(static_cast<size_t>(length), c.kbps));
    EXPECT_NE(text.find(c.versionLine), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Mp3FixtureTest,
    ::testing::Values(
        FixtureCase{"tone_44k_js_128.mp3", 1, 128, 44100, 2, "\r\n\r\nMPEG 1 Layer III\r\n\r\n"},
        FixtureCase{"tone_22k_mono_32.mp3", 2, 32, 22050, 1, "\r\n\r\nMPEG 2 Layer III\r\n\r\n"},
        FixtureCase{"tone_22k_stereo_32.mp3", 2, 32, 22050, 2, "\r\n\r\nMPEG 2 Layer III\r\n\r\n"},
        FixtureCase{"tone_11k_stereo_16.mp3", 3, 16, 11025, 2,
                    "\r\n\r\nMPEG 2.5 Layer III\r\n\r\n"},
        FixtureCase{"tone_8k_mono_8.mp3", 3, 8, 8000, 1, "\r\n\r\nMPEG 2.5 Layer III\r\n\r\n"}));

}  // namespace
