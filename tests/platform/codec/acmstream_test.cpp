// The stream contract: refusals, header preparation, size bounds, and the rate converter's
// packet-by-packet behaviour as the transcoding engine drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "codec/acm.h"
#include "codec/g722.h"
#include "codecmedia.h"

using namespace codecmedia;

namespace {

class Stream {
public:
    Stream(const std::vector<uint8_t>& src, const std::vector<uint8_t>& dst) {
        result = acmStreamOpen(&handle, nullptr, src.data(), uint32_t(src.size()), dst.data(),
                               uint32_t(dst.size()), 0);
    }
    ~Stream() {
        if (handle != nullptr) {
            acmStreamClose(handle, 0);
        }
    }
    uint32_t Size(uint32_t n, uint32_t flags) const {
        uint32_t out = 0;
        acmStreamSize(handle, n, &out, flags);
        return out;
    }
    HACMSTREAM handle = nullptr;
    MMRESULT result = MMSYSERR_ERROR;
};

struct Refusal {
    const char* what;
    std::vector<uint8_t> src;
    std::vector<uint8_t> dst;
};

std::vector<uint8_t> WithExtra(std::vector<uint8_t> f, std::vector<uint8_t> extra) {
    f[16] = static_cast<uint8_t>(extra.size());
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.what;
}

class StreamRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(StreamRefusal, FailsCleanly) {
    const Refusal& r = GetParam();
    HACMSTREAM s = reinterpret_cast<HACMSTREAM>(&s);
    EXPECT_EQ(acmStreamOpen(&s, nullptr, r.src.data(), uint32_t(r.src.size()), r.dst.data(),
                            uint32_t(r.dst.size()), 0),
              ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(s, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    NoDriverConverts, StreamRefusal,
    ::testing::Values(
        Refusal{"pcm to mp3", Pcm16Format(2, 44100), Mp3Format(2, 44100, 128)},
        Refusal{"mu-law to mu-law", Format(7, 1, 8000, 8), Format(7, 1, 8000, 8)},
        Refusal{"encode with a rate change", Pcm16Format(1, 8000), Format(7, 1, 16000, 8)},
        Refusal{"encode with a channel change", Pcm16Format(2, 8000), Format(6, 1, 8000, 8)},
        Refusal{"encode from 8-bit", Format(1, 1, 8000, 8), Format(7, 1, 8000, 8)},
        Refusal{"unknown tag", Format(0x1234, 1, 8000, 16), Pcm16Format(1, 8000)},
        Refusal{"no channels", Format(1, 0, 8000, 16, 2), Pcm16Format(1, 8000)},
        Refusal{"no rate", Format(1, 1, 0, 16), Pcm16Format(1, 8000)},
        Refusal{"more channels than the limit", Pcm16Format(kMaxWaveChannels + 1, 8000),
                Pcm16Format(1, 8000)},
        Refusal{"twelve-bit pcm", Format(1, 1, 8000, 12, 2), Pcm16Format(1, 8000)},
        Refusal{"gsm odd block", Format(0x31, 1, 8000, 0, 64, 1625), Pcm16Format(1, 8000)},
        Refusal{"adpcm block too small", Format(2, 1, 8000, 4, 7, 4000), Pcm16Format(1, 8000)},
        Refusal{"ima three bits", Format(17, 1, 8000, 3, 256, 4000), Pcm16Format(1, 8000)},
        Refusal{"mp3 three channels", Mp3Format(3, 44100, 128), Pcm16Format(3, 44100)},
        Refusal{"to 8-bit pcm", Pcm16Format(1, 8000), Format(1, 1, 8000, 8)},
        Refusal{"g722 from 8 kHz", Pcm16Format(1, 8000), Format(0x65, 1, 16000, 4, 1, 8000)},
        Refusal{"g722 at 8 kHz", Pcm16Format(1, 8000), Format(0x65, 1, 8000, 4, 1, 4000)},
        Refusal{"g722 stereo", Pcm16Format(2, 16000), Format(0x65, 2, 16000, 4, 2, 16000)},
        Refusal{"extensible without its sub-format",
                WithExtra(Format(0xFFFE, 1, 8000, 16), {16, 0}), Pcm16Format(1, 8000)}),
    [](const auto& param) {
        std::string n = param.param.what;
        for (char& c : n) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return n;
    });

TEST(AcmStream, BadArgumentsAreRefused) {
    const auto pcm = Pcm16Format(1, 8000);
    const auto mulaw = Format(7, 1, 8000, 8);
    HACMSTREAM s = nullptr;
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, pcm.data(), 18, mulaw.data(), 18, 0),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(&s, nullptr, pcm.data(), 14, mulaw.data(), 18, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(&s, nullptr, nullptr, 18, mulaw.data(), 18, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(&s, nullptr, pcm.data(), 18, mulaw.data(), 18, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(s, nullptr);
    // A 16-byte PCM "fmt " body is a whole record.
    EXPECT_EQ(acmStreamOpen(&s, nullptr, pcm.data(), 16, mulaw.data(), 18, 0), MMSYSERR_NOERROR);
    uint32_t out = 0;
    EXPECT_EQ(acmStreamSize(s, 320, &out, 7), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamSize(s, 320, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(nullptr, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamSize(nullptr, 1, &out, 0), MMSYSERR_INVALHANDLE);
}

TEST(AcmStream, HeaderLifecycle) {
    Stream a(Pcm16Format(1, 8000), Format(7, 1, 8000, 8));
    Stream b(Pcm16Format(1, 8000), Format(6, 1, 8000, 8));
    ASSERT_EQ(a.result, MMSYSERR_NOERROR);
    ASSERT_EQ(b.result, MMSYSERR_NOERROR);
    std::vector<int16_t> pcm = Tone(8000, 1, 0.02, 1000, -6);
    std::vector<uint8_t> dst(160);
    ACMSTREAMHEADER h{};
    h.cbStruct = 80;
    h.pbSrc = reinterpret_cast<uint8_t*>(pcm.data());
    h.cbSrcLength = 320;
    h.pbDst = dst.data();
    h.cbDstLength = 160;
    EXPECT_EQ(acmStreamPrepareHeader(a.handle, &h, 0), MMSYSERR_INVALPARAM);
    h.cbStruct = ACMSTREAMHEADER_SIZE;
    EXPECT_EQ(acmStreamConvert(a.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(a.handle, &h, 0), MMSYSERR_NOERROR);
    EXPECT_NE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
    EXPECT_EQ(acmStreamConvert(b.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_INVALPARAM)
        << "a header belongs to the stream that prepared it";
    EXPECT_EQ(acmStreamConvert(a.handle, &h, 0x100), MMSYSERR_INVALFLAG);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(acmStreamConvert(a.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
        EXPECT_EQ(h.cbSrcLengthUsed, 320u);
        EXPECT_EQ(h.cbDstLengthUsed, 160u);
        EXPECT_NE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
    }
    EXPECT_EQ(acmStreamUnprepareHeader(b.handle, &h, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamUnprepareHeader(a.handle, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(a.handle, &h, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamConvert(a.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
}

TEST(AcmStream, EncoderCarriesHalfSamplesAcrossCalls) {
    const std::vector<int16_t> pcm = Tone(8000, 1, 0.5, 700, -3);
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    std::vector<uint8_t> whole;
    std::vector<uint8_t> odd;
    bool held = false;
    ASSERT_TRUE(ConvertInChunks(Pcm16Format(1, 8000), Format(7, 1, 8000, 8), bytes,
                                uint32_t(bytes.size()), whole));
    ASSERT_TRUE(ConvertInChunks(Pcm16Format(1, 8000), Format(7, 1, 8000, 8), bytes, 3, odd, &held));
    EXPECT_TRUE(held);
    EXPECT_EQ(whole.size(), pcm.size());
    EXPECT_EQ(odd, whole);
}

// G.722 through the services is the coder's own output whatever the chunks (an odd byte count
// splits a sample, an odd sample count a pair), and decodes back the same way.
TEST(AcmStream, G722JoinsChunksAsOneStreamBothWays) {
    const std::vector<int16_t> pcm = Tone(16000, 1, 0.5, 1020, -6);
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    G722Encoder encoder;
    std::vector<uint8_t> direct(pcm.size() / 2);
    ASSERT_EQ(encoder.Encode(pcm.data(), pcm.size(), direct.data()), direct.size());
    const auto g722 = Format(0x65, 1, 16000, 4, 1, 8000);
    for (const uint32_t chunk : {uint32_t(bytes.size()), 640u, 3u, 6u}) {
        std::vector<uint8_t> coded;
        ASSERT_TRUE(ConvertInChunks(Pcm16Format(1, 16000), g722, bytes, chunk, coded)) << chunk;
        EXPECT_EQ(coded, direct) << "chunks of " << chunk;
    }
    G722Decoder decoder;
    std::vector<int16_t> back(direct.size() * 2);
    ASSERT_EQ(decoder.Decode(direct.data(), direct.size(), back.data()), back.size());
    for (const uint32_t chunk : {uint32_t(direct.size()), 1u, 7u}) {
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(ConvertInChunks(g722, Pcm16Format(1, 16000), direct, chunk, decoded)) << chunk;
        EXPECT_EQ(ToSamples(decoded), back) << "chunks of " << chunk;
    }
    // A 1020 Hz tone survives the coder at its level.
    const ToneFit fit = FitTone(back, 16000, 1020, 800);
    EXPECT_NEAR(ToDbfs(fit.amplitude), -6.0, 0.5);
}

// The engine's stage 2: input sized with acmStreamSize(DESTINATION) of one output packet.
// The converter holds its output back at the start (it yields in bursts and its first frame
// is the first input frame's); after that every call yields a full packet.
struct Packetised {
    uint32_t rate;
    uint16_t channels;
    uint32_t packetMs;
};

void PrintTo(const Packetised& p, std::ostream* os) {
    *os << p.rate << " Hz, " << p.channels << " channels, " << p.packetMs << " ms";
}

class ResamplerPackets : public ::testing::TestWithParam<Packetised> {};

TEST_P(ResamplerPackets, EveryCallYieldsTheBlockAndPacketsJoin) {
    const Packetised p = GetParam();
    Stream s(Pcm16Format(p.channels, p.rate), Pcm16Format(1, 8000));
    ASSERT_EQ(s.result, MMSYSERR_NOERROR);
    const uint32_t outBytes = p.packetMs * 8000 / 1000 * 2;
    const uint32_t inBytes = s.Size(outBytes, ACM_STREAMSIZEF_DESTINATION);
    ASSERT_GT(inBytes, 0u);
    ASSERT_EQ(inBytes % (2u * p.channels), 0u);
    // Steady input never falls short of the output it asks for.
    EXPECT_GE(uint64_t(inBytes) / (2u * p.channels) * 8000, uint64_t(outBytes / 2) * p.rate);

    const double seconds = 3.0;
    // The mix-down averages: stereo at -6 dBFS a channel stays at -6 dBFS.
    std::vector<int16_t> src = Tone(p.rate, p.channels, seconds, 1020, -6);
    std::vector<uint8_t> in(inBytes);
    std::vector<uint8_t> out(outBytes);
    ACMSTREAMHEADER h{};
    h.cbStruct = ACMSTREAMHEADER_SIZE;
    h.pbSrc = in.data();
    h.cbSrcLength = inBytes;
    h.pbDst = out.data();
    h.cbDstLength = outBytes;
    ASSERT_EQ(acmStreamPrepareHeader(s.handle, &h, 0), MMSYSERR_NOERROR);
    std::vector<int16_t> produced;
    const size_t srcBytes = src.size() * 2;
    int shortCalls = 0;
    int leadingEmpty = 0;
    for (size_t pos = 0; pos + inBytes <= srcBytes; pos += inBytes) {
        std::memcpy(in.data(), reinterpret_cast<const uint8_t*>(src.data()) + pos, inBytes);
        ASSERT_EQ(acmStreamConvert(s.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
        if (produced.empty() && h.cbDstLengthUsed == 0) {
            ++leadingEmpty;
            continue;
        }
        shortCalls += h.cbDstLengthUsed != outBytes;
        const auto* o = reinterpret_cast<const int16_t*>(out.data());
        produced.insert(produced.end(), o, o + h.cbDstLengthUsed / 2);
    }
    acmStreamUnprepareHeader(s.handle, &h, 0);
    EXPECT_EQ(shortCalls, 0);
    // Held back at most 80 ms beyond a packet, and not at all without a rate change.
    EXPECT_LE(leadingEmpty * p.packetMs, 80 + 2 * p.packetMs);
    if (p.rate == 8000) {
        EXPECT_EQ(leadingEmpty, 0);
    }
    // Blocks that stand slightly off the rate ratio (220.5 frames fed as 221) are converted at
    // the blocks' own ratio, which shifts the tone by that fraction.
    const double blockRatio =
        double(inBytes / (2u * p.channels)) * 8000.0 / (double(outBytes / 2) * double(p.rate));
    // A click at a packet boundary would show as residual around the fitted tone.
    const ToneFit fit = FitTone(produced, 8000, 1020 * blockRatio, 400);
    EXPECT_GT(fit.snrDb, 70.0);
    EXPECT_NEAR(ToDbfs(fit.amplitude), -6.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Rates, ResamplerPackets,
                         ::testing::Values(Packetised{44100, 2, 20}, Packetised{48000, 2, 20},
                                           Packetised{44100, 1, 160}, Packetised{22050, 1, 40},
                                           Packetised{11025, 1, 20}, Packetised{32000, 2, 80},
                                           Packetised{16000, 1, 20}, Packetised{8000, 2, 20}),
                         [](const auto& param) {
                             const Packetised& p = param.param;
                             return std::to_string(p.rate) + "Hz_" + std::to_string(p.channels) +
                                    "ch_" + std::to_string(p.packetMs) + "ms";
                         });

TEST(AcmStream, FixedBlocksOffTheRateRatioBuildNoBacklog) {
    // 11025 Hz in 20 ms packets: 221 frames in for 160 out. Were the converter to keep the
    // true rate ratio, half a frame a packet would pile up inside it and a click would come
    // out later and later.
    Stream s(Pcm16Format(1, 11025), Pcm16Format(1, 8000));
    ASSERT_EQ(s.result, MMSYSERR_NOERROR);
    const uint32_t outBytes = 320;
    const uint32_t inBytes = s.Size(outBytes, ACM_STREAMSIZEF_DESTINATION);
    ASSERT_EQ(inBytes, 442u);
    std::vector<uint8_t> in(inBytes, 0);
    std::vector<uint8_t> out(outBytes);
    ACMSTREAMHEADER h{};
    h.cbStruct = ACMSTREAMHEADER_SIZE;
    h.pbSrc = in.data();
    h.cbSrcLength = inBytes;
    h.pbDst = out.data();
    h.cbDstLength = outBytes;
    ASSERT_EQ(acmStreamPrepareHeader(s.handle, &h, 0), MMSYSERR_NOERROR);
    constexpr int kClickPacket = 3000;
    int heardAt = -1;
    for (int packet = 0; packet < kClickPacket + 20 && heardAt < 0; ++packet) {
        std::fill(in.begin(), in.end(), 0);
        if (packet == kClickPacket) {
            const int16_t click = 20000;
            std::memcpy(in.data(), &click, 2);
        }
        ASSERT_EQ(acmStreamConvert(s.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
        // Only the start is held back (see ResamplerPackets).
        if (packet >= 8) {
            ASSERT_EQ(h.cbDstLengthUsed, outBytes);
        }
        for (size_t i = 0; i + 1 < out.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, out.data() + i, 2);
            if (std::abs(v) > 1000) {
                heardAt = packet;
                break;
            }
        }
    }
    acmStreamUnprepareHeader(s.handle, &h, 0);
    ASSERT_GE(heardAt, kClickPacket);
    // Late by the start's hold (80 ms, four packets) at most, however long the stream.
    EXPECT_LE(heardAt, kClickPacket + 5);
}

TEST(AcmStream, RateConverterKeepsTonesAboveTheBandOut) {
    // 4.3 kHz folds to 3.7 kHz at 8 kHz unless the filter removes it.
    for (uint32_t rate : {44100u, 11025u, 48000u}) {
        const std::vector<int16_t> src = Tone(rate, 1, 2.0, 4300, -6);
        std::vector<uint8_t> bytes(src.size() * 2);
        std::memcpy(bytes.data(), src.data(), bytes.size());
        std::vector<uint8_t> out;
        ASSERT_TRUE(
            ConvertInChunks(Pcm16Format(1, rate), Pcm16Format(1, 8000), bytes, rate / 50 * 2, out));
        const ToneFit alias = FitTone(ToSamples(out), 8000, 3700, 800);
        EXPECT_LT(ToDbfs(alias.amplitude), -80.0) << rate;
    }
}

TEST(AcmStream, LiveRateConverterYieldsEveryBlockSoonWithTheSameFilter) {
    // A microphone at 48 kHz in 5 ms periods: the output must follow the input closely (a
    // file's converter yields 60 ms bursts, which would send a page's packets in clumps),
    // and tones above the band stay out as they do for files.
    HACMSTREAM s = nullptr;
    const std::vector<uint8_t> in48 = Pcm16Format(1, 48000);
    const std::vector<uint8_t> out8 = Pcm16Format(1, 8000);
    ASSERT_EQ(acmStreamOpen(&s, nullptr, in48.data(), uint32_t(in48.size()), out8.data(),
                            uint32_t(out8.size()), ACM_STREAMOPENF_LOWLATENCY),
              MMSYSERR_NOERROR);
    std::vector<int16_t> tone = Tone(48000, 1, 2.0, 1000, -6);
    const std::vector<int16_t> alias = Tone(48000, 1, 2.0, 4300, -6);
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<int16_t>(tone[i] / 2 + alias[i] / 2);
    }
    constexpr uint32_t kPeriodBytes = 240 * 2;
    std::vector<uint8_t> src(kPeriodBytes);
    std::vector<uint8_t> dst(8192);
    ACMSTREAMHEADER h{};
    h.cbStruct = ACMSTREAMHEADER_SIZE;
    h.pbSrc = src.data();
    h.cbSrcLength = kPeriodBytes;
    h.pbDst = dst.data();
    h.cbDstLength = uint32_t(dst.size());
    ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    std::vector<int16_t> out;
    size_t calls = 0;
    for (size_t pos = 0; pos + 240 <= tone.size(); pos += 240, ++calls) {
        std::memcpy(src.data(), tone.data() + pos, kPeriodBytes);
        ASSERT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
        // Never more than 10 ms of output behind the input (a file's converter: 60 ms).
        EXPECT_GE(out.size() + h.cbDstLengthUsed / 2 + 80, (calls + 1) * 40) << calls;
        const auto* got = reinterpret_cast<const int16_t*>(dst.data());
        out.insert(out.end(), got, got + h.cbDstLengthUsed / 2);
    }
    acmStreamUnprepareHeader(s, &h, 0);
    acmStreamClose(s, 0);
    EXPECT_GT(ToDbfs(FitTone(out, 8000, 1000, 800).amplitude), -13.0);
    EXPECT_LT(ToDbfs(FitTone(out, 8000, 3700, 800).amplitude), -80.0);
}

// Mono is the average of all channels, for every channel count: full-scale channels never
// clip, and stereo matches halving each channel before summing to within one step.
TEST(AcmStream, MixDownAveragesEveryChannelCount) {
    const std::vector<int16_t> src = {1000, 2000, -1000, -2500, 30000, 30000, -30000, -30000};
    std::vector<uint8_t> bytes(src.size() * 2);
    std::memcpy(bytes.data(), src.data(), bytes.size());
    std::vector<uint8_t> out;
    ASSERT_TRUE(ConvertInChunks(Pcm16Format(2, 8000), Pcm16Format(1, 8000), bytes, 16, out));
    EXPECT_EQ(ToSamples(out), (std::vector<int16_t>{1500, -1750, 30000, -30000}));
    const std::vector<int16_t> quad = {32767,  32767,  32767,  32767,  100, 200, 300, 401,
                                       -32768, -32768, -32768, -32768, 0,   0,   0,   -7};
    std::vector<uint8_t> quadBytes(quad.size() * 2);
    std::memcpy(quadBytes.data(), quad.data(), quadBytes.size());
    std::vector<uint8_t> quadOut;
    ASSERT_TRUE(
        ConvertInChunks(Pcm16Format(4, 8000), Pcm16Format(1, 8000), quadBytes, 12, quadOut));
    EXPECT_EQ(ToSamples(quadOut), (std::vector<int16_t>{32767, 250, -32768, -1}));
    std::vector<uint8_t> up;
    ASSERT_TRUE(ConvertInChunks(Pcm16Format(1, 8000), Pcm16Format(2, 8000), bytes, 6, up));
    ASSERT_EQ(up.size(), bytes.size() * 2);
    EXPECT_EQ(ToSamples(up)[0], 1000);
    EXPECT_EQ(ToSamples(up)[1], 1000);
    EXPECT_EQ(ToSamples(up)[15], -30000);
}

}  // namespace
