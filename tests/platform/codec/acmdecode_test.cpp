// Decoders against the audio their fixtures were made from (by level and correlation),
// chunked against whole, and the size bounds on every chunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "codec/acm.h"
#include "codecmedia.h"

using namespace codecmedia;

namespace {

std::vector<uint8_t> Bytes(const std::vector<int16_t>& s) {
    std::vector<uint8_t> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

// The source tone: two partials so that correlation checks the waveform, not one period.
std::vector<int16_t> Source(uint32_t rate, uint16_t channels, double seconds) {
    std::vector<int16_t> a = Tone(rate, channels, seconds, 440, -9);
    const std::vector<int16_t> b = Tone(rate, channels, seconds, 1330, -12, 0.3);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<int16_t>(a[i] + b[i]);
    }
    return a;
}

void ExpectResembles(const std::vector<int16_t>& decoded, const std::vector<int16_t>& source,
                     uint16_t channels, double minCorrelation, int maxLag) {
    ASSERT_GT(decoded.size(), source.size() / 2);
    for (uint16_t c = 0; c < channels; ++c) {
        std::vector<int16_t> d = Channel(decoded, channels, c);
        std::vector<int16_t> s = Channel(source, channels, c);
        const size_t n = std::min(d.size(), s.size());
        d.resize(n);
        s.resize(n);
        EXPECT_GT(BestCorrelation(d, s, maxLag), minCorrelation) << "channel " << c;
        const size_t from = n / 10;
        const size_t to = n - n / 10;
        EXPECT_NEAR(20 * std::log10(Rms(d, from, to) / Rms(s, from, to)), 0.0, 1.0);
    }
}

// Linear PCM and float sources, written sample by sample.
struct PcmCase {
    const char* name;
    uint16_t tag;
    uint16_t bits;
    int maxError;
};

class PcmDecode : public ::testing::TestWithParam<PcmCase> {};

TEST_P(PcmDecode, MatchesTheSource) {
    const PcmCase p = GetParam();
    const std::vector<int16_t> src = Source(22050, 2, 0.3);
    std::vector<uint8_t> coded;
    for (int16_t s : src) {
        switch (p.bits) {
            case 8:
                coded.push_back(static_cast<uint8_t>((s >> 8) + 128));
                break;
            case 16:
            case 24:
            case 32:
                if (p.tag == WAVE_FORMAT_IEEE_FLOAT) {
                    const float f = float(s) / 32768.0f;
                    const auto* fb = reinterpret_cast<const uint8_t*>(&f);
                    coded.insert(coded.end(), fb, fb + 4);
                } else {
                    for (int k = 0; k < p.bits / 8 - 2; ++k) {
                        coded.push_back(0x5A);  // low bits below the 16 that count
                    }
                    coded.push_back(static_cast<uint8_t>(s & 0xFF));
                    coded.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
                }
                break;
            case 64: {
                const double d = double(s) / 32768.0;
                const auto* db = reinterpret_cast<const uint8_t*>(&d);
                coded.insert(coded.end(), db, db + 8);
                break;
            }
        }
    }
    std::vector<uint8_t> fmt = Format(p.tag, 2, 22050, p.bits);
    if (p.tag == WAVE_FORMAT_EXTENSIBLE) {
        fmt = Format(WAVE_FORMAT_EXTENSIBLE, 2, 22050, 24);
        fmt[16] = 22;
        const uint8_t ext[22] = {24, 0,    3, 0,    0, 0, 1,    0, 0,    0,    0,
                                 0,  0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), ext, ext + 22);
    }
    std::vector<uint8_t> out;
    bool held = false;
    // An odd chunk size cuts sample frames.
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(2, 22050), coded, 1001, out, &held));
    EXPECT_TRUE(held);
    const std::vector<int16_t> decoded = ToSamples(out);
    ASSERT_EQ(decoded.size(), src.size());
    int worst = 0;
    for (size_t i = 0; i < src.size(); ++i) {
        worst = std::max(worst, std::abs(decoded[i] - src[i]));
    }
    EXPECT_LE(worst, p.maxError);
}

INSTANTIATE_TEST_SUITE_P(Formats, PcmDecode,
                         ::testing::Values(PcmCase{"u8", 1, 8, 255}, PcmCase{"s16", 1, 16, 0},
                                           PcmCase{"s24", 1, 24, 1}, PcmCase{"s32", 1, 32, 1},
                                           PcmCase{"f32", 3, 32, 0}, PcmCase{"f64", 3, 64, 0},
                                           PcmCase{"extensible24", WAVE_FORMAT_EXTENSIBLE, 24, 1}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(G711Decode, StreamsDecodeWhatTheEncoderMade) {
    const std::vector<int16_t> src = Source(8000, 1, 0.5);
    for (uint16_t tag : {WAVE_FORMAT_MULAW, WAVE_FORMAT_ALAW}) {
        std::vector<uint8_t> coded;
        ASSERT_TRUE(
            ConvertInChunks(Pcm16Format(1, 8000), Format(tag, 1, 8000, 8), Bytes(src), 320, coded));
        std::vector<uint8_t> back;
        ASSERT_TRUE(
            ConvertInChunks(Format(tag, 1, 8000, 8), Pcm16Format(1, 8000), coded, 77, back));
        ExpectResembles(ToSamples(back), src, 1, 0.999, 0);
    }
}

// Media made by the external encoders at runtime.
class ExternalMedia : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox") || !HaveTool("lame")) {
            GTEST_SKIP() << "sox and lame are needed to make the test media";
        }
        ASSERT_FALSE(m_dir.Path().empty());
    }
    // Writes the source WAV and returns its path.
    std::string SourceWav(const std::vector<int16_t>& s, uint32_t rate, uint16_t channels) {
        const std::string path = m_dir.File("src.wav");
        EXPECT_TRUE(WritePcm16Wav(path, rate, channels, s));
        return path;
    }
    TempDir m_dir;
};

struct Mp3Case {
    const char* name;
    uint32_t rate;
    uint16_t channels;
    uint32_t kbps;
    double minCorrelation;
};

class Mp3Decode : public ExternalMedia, public ::testing::WithParamInterface<Mp3Case> {};

TEST_P(Mp3Decode, ChunkedEqualsWholeAndResemblesTheSource) {
    const Mp3Case p = GetParam();
    const std::vector<int16_t> src = Source(p.rate, p.channels, 2.0);
    const std::string wav = SourceWav(src, p.rate, p.channels);
    const std::string mp3 = m_dir.File("a.mp3");
    ASSERT_TRUE(RunQuiet("lame --quiet -t --cbr -b " + std::to_string(p.kbps) + " -m " +
                         (p.channels == 1 ? "m" : "s") + " '" + wav + "' '" + mp3 + "'"));
    const std::vector<uint8_t> data = ReadFile(mp3);
    const auto fmt = Mp3Format(p.channels, p.rate, p.kbps);
    std::vector<uint8_t> chunked;
    std::vector<uint8_t> whole;
    std::vector<uint8_t> tiny;
    bool held = false;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(p.channels, p.rate), data, 522, chunked, &held));
    EXPECT_TRUE(held) << "a 522-byte chunk produced more than acmStreamSize said";
    ASSERT_TRUE(
        ConvertInChunks(fmt, Pcm16Format(p.channels, p.rate), data, uint32_t(data.size()), whole));
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(p.channels, p.rate), data, 7, tiny));
    EXPECT_EQ(chunked, whole);
    EXPECT_EQ(tiny, whole);
    // The decoder delay (encoder delay plus the held last frame) is under 3000 samples.
    ExpectResembles(ToSamples(chunked), src, p.channels, p.minCorrelation, 3000);
}

INSTANTIATE_TEST_SUITE_P(Streams, Mp3Decode,
                         ::testing::Values(Mp3Case{"stereo44k128", 44100, 2, 128, 0.99},
                                           Mp3Case{"mono22k32", 22050, 1, 32, 0.97},
                                           Mp3Case{"mono8k16", 8000, 1, 16, 0.9}),
                         [](const auto& param) { return std::string(param.param.name); });

// With the encoder's tag in the first frame the stream decodes to exactly the encoded audio,
// in step with it (no delay in front, no padding behind), for MPEG 1, 2 and 2.5, constant and
// variable bit rates; without the tag (-t) the encoder's and decoder's delays stay in front.
TEST_F(ExternalMedia, EncoderTagMakesTheStreamGapless) {
    struct Case {
        uint32_t rate;
        uint16_t channels;
        const char* options;
    };
    for (const Case& c : {Case{44100, 2, "--cbr -b 128"}, Case{48000, 2, "-V 2"},
                          Case{22050, 1, "--cbr -b 64"}, Case{8000, 1, "--cbr -b 32"}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " " + c.options);
        const std::vector<int16_t> src = Source(c.rate, c.channels, 1.3);
        const std::string wav = SourceWav(src, c.rate, c.channels);
        const std::string tagged = m_dir.File("tagged.mp3");
        const std::string plain = m_dir.File("plain.mp3");
        ASSERT_TRUE(
            RunQuiet("lame --quiet " + std::string(c.options) + " '" + wav + "' '" + tagged + "'"));
        ASSERT_TRUE(RunQuiet("lame --quiet -t " + std::string(c.options) + " '" + wav + "' '" +
                             plain + "'"));
        const auto fmt = Mp3Format(c.channels, c.rate, 64);
        std::vector<uint8_t> gapless;
        std::vector<uint8_t> untrimmed;
        ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(c.channels, c.rate), ReadFile(tagged), 522,
                                    gapless, nullptr, true));
        ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(c.channels, c.rate), ReadFile(plain), 522,
                                    untrimmed, nullptr, true));
        const std::vector<int16_t> decoded = ToSamples(gapless);
        EXPECT_EQ(decoded.size(), src.size());
        int lag = -1;
        BestCorrelation(Channel(decoded, c.channels, 0), Channel(src, c.channels, 0), 600, &lag);
        EXPECT_EQ(lag, 0);
        EXPECT_GT(untrimmed.size() / 2, src.size() + 529u * c.channels);
    }
}

TEST_F(ExternalMedia, WorstCaseMpegFramesStayWithinTheSizeBound) {
    // 8 kbit/s frames are the densest: MPEG-2.5 at 8 kHz and MPEG-2 at 24 kHz.
    for (uint32_t rate : {8000u, 12000u, 24000u}) {
        for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
            const std::vector<int16_t> src = Source(rate, channels, 3.0);
            const std::string wav = SourceWav(src, rate, channels);
            const std::string mp3 = m_dir.File("w.mp3");
            ASSERT_TRUE(RunQuiet(
                "lame --quiet -t --cbr -b 8 --resample " + std::to_string(rate / 1000) + " -m " +
                std::string(channels == 1 ? "m" : "s") + " '" + wav + "' '" + mp3 + "'"));
            const std::vector<uint8_t> data = ReadFile(mp3);
            for (uint32_t chunk : {522u, 24u, 1u, 100u, 4096u}) {
                std::vector<uint8_t> out;
                bool held = false;
                ASSERT_TRUE(ConvertInChunks(Mp3Format(channels, rate, 8),
                                            Pcm16Format(channels, rate), data, chunk, out, &held));
                EXPECT_TRUE(held) << rate << " Hz, " << channels << " ch, chunk " << chunk;
                EXPECT_GT(out.size(), src.size());  // the whole stream decoded
            }
        }
    }
}

TEST_F(ExternalMedia, Id3TagAndLayerTwoDecode) {
    const std::vector<int16_t> src = Source(44100, 2, 2.0);
    const std::string wav = SourceWav(src, 44100, 2);
    const std::string plain = m_dir.File("plain.mp3");
    const std::string tagged = m_dir.File("tagged.mp3");
    ASSERT_TRUE(RunQuiet("lame --quiet -t --cbr -b 128 '" + wav + "' '" + plain + "'"));
    ASSERT_TRUE(RunQuiet(
        "lame --quiet -t --cbr -b 128 --id3v2-only --tt 'A title' --pad-id3v2-size 3000 '" + wav +
        "' '" + tagged + "'"));
    const auto fmt = Mp3Format(2, 44100, 128);
    std::vector<uint8_t> a;
    std::vector<uint8_t> b;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(2, 44100), ReadFile(plain), 522, a));
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(2, 44100), ReadFile(tagged), 522, b));
    EXPECT_EQ(a, b);

    if (!HaveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg makes the Layer II stream";
    }
    const std::string mp2 = m_dir.File("a.mp2");
    ASSERT_TRUE(
        RunQuiet("ffmpeg -nostdin -y -i '" + wav + "' -c:a mp2 -b:a 192k -f mp2 '" + mp2 + "'"));
    const std::vector<uint8_t> data = ReadFile(mp2);
    std::vector<uint8_t> fmt50 = Format(WAVE_FORMAT_MPEG, 2, 44100, 0, 1, 192 * 128);
    for (const auto& record : {fmt, fmt50}) {
        std::vector<uint8_t> out;
        ASSERT_TRUE(ConvertInChunks(record, Pcm16Format(2, 44100), data, 522, out));
        ExpectResembles(ToSamples(out), src, 2, 0.99, 3000);
    }
}

TEST_F(ExternalMedia, OneStreamDecodesAndResamplesAndEndFlushes) {
    const std::vector<int16_t> src = Tone(44100, 2, 2.0, 1020, -12);
    const std::string wav = SourceWav(src, 44100, 2);
    const std::string mp3 = m_dir.File("c.mp3");
    ASSERT_TRUE(RunQuiet("lame --quiet -t --cbr -b 128 '" + wav + "' '" + mp3 + "'"));
    const std::vector<uint8_t> data = ReadFile(mp3);
    const auto fmt = Mp3Format(2, 44100, 128);
    std::vector<uint8_t> direct;
    bool held = false;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 8000), data, 522, direct, &held));
    EXPECT_TRUE(held);
    // Two channels of -12 dBFS average to -12 dBFS.
    const ToneFit fit = FitTone(ToSamples(direct), 8000, 1020, 2000);
    EXPECT_NEAR(ToDbfs(fit.amplitude), -12.0, 0.5);
    EXPECT_GT(fit.snrDb, 40.0);
    // The end flag drains the frame the parser holds and the filter's tail.
    std::vector<uint8_t> flushed;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 8000), data, 522, flushed, nullptr, true));
    EXPECT_GT(flushed.size(), direct.size());
    EXPECT_TRUE(std::equal(direct.begin(), direct.end(), flushed.begin()));
}

struct SoxCase {
    const char* name;
    const char* encoding;
    uint16_t tag;
    uint16_t channels;
    uint32_t rate;
    double minCorrelation;
};

class SoxDecode : public ExternalMedia, public ::testing::WithParamInterface<SoxCase> {};

TEST_P(SoxDecode, BlocksDecodeToTheSource) {
    const SoxCase p = GetParam();
    const std::vector<int16_t> src = Source(p.rate, p.channels, 2.0);
    const std::string wav = SourceWav(src, p.rate, p.channels);
    const std::string coded = m_dir.File("coded.wav");
    if (!RunQuiet(std::string("sox '") + wav + "' " + p.encoding + " '" + coded + "'")) {
        GTEST_SKIP() << "this sox cannot write " << p.encoding;
    }
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadWav(coded, fmt, data));
    WAVEFORMATEX wfx{};
    ASSERT_TRUE(ReadWaveFormat(fmt.data(), fmt.size(), wfx));
    ASSERT_EQ(wfx.wFormatTag, p.tag);
    std::vector<uint8_t> engineChunks;
    std::vector<uint8_t> oddChunks;
    bool held = false;
    ASSERT_TRUE(
        ConvertInChunks(fmt, Pcm16Format(p.channels, p.rate), data, 43008, engineChunks, &held));
    EXPECT_TRUE(held);
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(p.channels, p.rate), data, 333, oddChunks, &held));
    EXPECT_TRUE(held);
    EXPECT_EQ(oddChunks, engineChunks);
    ExpectResembles(ToSamples(oddChunks), src, p.channels, p.minCorrelation, 400);
}

INSTANTIATE_TEST_SUITE_P(Codecs, SoxDecode,
                         ::testing::Values(SoxCase{"ima_mono", "-e ima-adpcm", 17, 1, 22050, 0.99},
                                           SoxCase{"ima_stereo", "-e ima-adpcm", 17, 2, 44100,
                                                   0.99},
                                           SoxCase{"ms_mono", "-e ms-adpcm", 2, 1, 11025, 0.99},
                                           SoxCase{"ms_stereo", "-e ms-adpcm", 2, 2, 44100, 0.99},
                                           SoxCase{"gsm", "-e gsm-full-rate", 0x31, 1, 8000, 0.9}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ExternalMedia, AdpcmCoefficientsComeFromTheRecord) {
    const std::vector<int16_t> src = Source(22050, 1, 1.0);
    const std::string wav = SourceWav(src, 22050, 1);
    const std::string coded = m_dir.File("ms.wav");
    ASSERT_TRUE(RunQuiet("sox '" + wav + "' -e ms-adpcm '" + coded + "'"));
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadWav(coded, fmt, data));
    ASSERT_GE(fmt.size(), 50u);
    const uint16_t count = static_cast<uint16_t>(fmt[20] | (fmt[21] << 8));
    ASSERT_EQ(count, 7);
    std::vector<uint8_t> normal;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 22050), data, 43008, normal));
    // Reverse the coefficient sets in the record and renumber every block's predictor: the
    // decoded audio must not change.
    std::vector<uint8_t> fmt2 = fmt;
    for (int i = 0; i < 7; ++i) {
        std::memcpy(fmt2.data() + 22 + 4 * i, fmt.data() + 22 + 4 * (6 - i), 4);
    }
    std::vector<uint8_t> data2 = data;
    const uint16_t blockAlign = static_cast<uint16_t>(fmt[12] | (fmt[13] << 8));
    for (size_t pos = 0; pos + blockAlign <= data2.size(); pos += blockAlign) {
        ASSERT_LT(data2[pos], 7);
        data2[pos] = static_cast<uint8_t>(6 - data2[pos]);
    }
    std::vector<uint8_t> renumbered;
    ASSERT_TRUE(ConvertInChunks(fmt2, Pcm16Format(1, 22050), data2, 43008, renumbered));
    EXPECT_EQ(renumbered, normal);
    // With the standard sets swapped but the blocks unchanged, the result differs.
    std::vector<uint8_t> wrong;
    ASSERT_TRUE(ConvertInChunks(fmt2, Pcm16Format(1, 22050), data, 43008, wrong));
    EXPECT_NE(wrong, normal);
}

// A stream that ends inside a block (a cut file) still gives the frames that block holds
// when the end is signalled; and blocks whose step size runs away (corrupt data, extreme
// coefficients) decode to clamped samples, not to an overflow.
TEST_F(ExternalMedia, AdpcmBlocksCutOrCorruptDecodeSafely) {
    const std::vector<int16_t> src = Source(8000, 1, 0.5);
    const std::string wav = SourceWav(src, 8000, 1);
    for (const char* encoding : {"ms-adpcm", "ima-adpcm"}) {
        SCOPED_TRACE(encoding);
        const std::string coded = m_dir.File("cut.wav");
        ASSERT_TRUE(RunQuiet("sox '" + wav + "' -e " + encoding + " '" + coded + "'"));
        std::vector<uint8_t> fmt;
        std::vector<uint8_t> data;
        ASSERT_TRUE(ReadWav(coded, fmt, data));
        const uint16_t blockAlign = static_cast<uint16_t>(fmt[12] | (fmt[13] << 8));
        std::vector<uint8_t> whole;
        ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 8000), data, 1000, whole, nullptr, true));
        // Cut 100 bytes into the third block: two whole blocks and the cut one's frames.
        const std::vector<uint8_t> cut(data.begin(), data.begin() + 2 * blockAlign + 100);
        std::vector<uint8_t> partial;
        ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 8000), cut, 1000, partial, nullptr, true));
        const size_t wholeBlocks = whole.size() / (data.size() / blockAlign);
        EXPECT_GT(partial.size(), 2 * wholeBlocks + 300);
        EXPECT_LT(partial.size(), 3 * wholeBlocks);
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), whole.begin()));
    }

    // One coefficient pair at the 16-bit limits, a header step of 0x7FFF and nibbles that
    // grow the step on every sample.
    std::vector<uint8_t> fmt = Format(2, 1, 8000, 4, 256, 4096);
    fmt[16] = 8;  // cbSize: samples per block, one coefficient pair
    for (uint8_t b : {0xF4, 0x01, 0x01, 0x00, 0xFF, 0x7F, 0xFF, 0x7F}) {
        fmt.push_back(b);
    }
    std::vector<uint8_t> block(256, 0x77);
    block[0] = 0;
    for (size_t i : {1, 3, 5}) {
        block[i] = 0xFF;
        block[i + 1] = 0x7F;
    }
    std::vector<uint8_t> out;
    ASSERT_TRUE(ConvertInChunks(fmt, Pcm16Format(1, 8000), block, 256, out, nullptr, true));
    EXPECT_EQ(out.size(), 500u * 2);
}

}  // namespace
