// The live rate converter: the speech band kept and aliases rejected, the delay it reports,
// a trimmed ratio's exact rate and its click-free change, block sizes that change nothing,
// and the formats it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "codec/liveresampler.h"
#include "codecmedia.h"

using namespace codecmedia;

namespace {

constexpr uint32_t kOut = 8000;

// Feeds `in` in blocks of `block` frames, each given the room OutputBound promises.
std::vector<int16_t> Feed(LiveResampler& r, const std::vector<int16_t>& in, unsigned channels,
                          size_t block) {
    std::vector<int16_t> out;
    std::vector<int16_t> buf;
    const size_t frames = in.size() / channels;
    for (size_t f = 0; f < frames; f += block) {
        const size_t n = std::min(block, frames - f);
        buf.resize(r.OutputBound(n));
        const size_t got = r.Process(in.data() + f * channels, n, buf.data(), buf.size());
        out.insert(out.end(), buf.begin(), buf.begin() + long(got));
    }
    return out;
}

TEST(LiveResampler, KeepsTheSpeechBandAndRejectsAliases) {
    struct Case {
        uint32_t rate;
        uint16_t channels;
        double trimPpm;
    };
    for (const Case c : {Case{48000, 1, 0}, Case{48000, 2, 1500}, Case{44100, 2, 0},
                         Case{44100, 1, -700}, Case{16000, 1, 0}, Case{16000, 2, 5}}) {
        SCOPED_TRACE(testing::Message()
                     << c.rate << " Hz, " << c.channels << " ch, trim " << c.trimPpm);
        // A stereo source carries the tone on the left only: the mix is its average.
        const double level = c.channels == 2 ? -12.0 : -6.0;
        const double scale = 1.0 + c.trimPpm * 1e-6;  // output samples per nominal one
        const size_t block = c.rate / 250 + 3;        // about 4 ms, off the packet grid
        for (const double hz : {1000.0, 3400.0, 4500.0, 5000.0}) {
            std::vector<int16_t> in = Tone(c.rate, 1, 1.0, hz, -6.0);
            if (c.channels == 2) {
                std::vector<int16_t> stereo(in.size() * 2, 0);
                for (size_t i = 0; i < in.size(); ++i) {
                    stereo[2 * i] = in[i];
                }
                in.swap(stereo);
            }
            LiveResampler r;
            ASSERT_TRUE(r.Open(c.rate, c.channels, kOut));
            r.SetTrimPpm(c.trimPpm);
            const std::vector<int16_t> out = Feed(r, in, c.channels, block);
            EXPECT_NEAR(double(out.size()), kOut * scale - r.DelayNs() * 8e-6, 2.0);
            if (hz < 4000) {
                const ToneFit fit = FitTone(out, kOut, hz / scale, 400);
                // The telephone band's top passes whole.
                EXPECT_NEAR(ToDbfs(fit.amplitude), level, 0.05) << hz;
                EXPECT_GT(fit.snrDb, 60.0) << hz;
            } else {
                const double alias = kOut - hz / scale;
                EXPECT_LT(ToDbfs(FitTone(out, kOut, alias, 400).amplitude), level - 70.0);
            }
        }
    }
}

TEST(LiveResampler, AnImpulseComesOutAlignedAndDelayNsLater) {
    for (const uint32_t rate : {48000u, 44100u, 16000u, 8000u}) {
        SCOPED_TRACE(rate);
        LiveResampler r;
        ASSERT_TRUE(r.Open(rate, 1, kOut));
        const double delayFrames = double(r.DelayNs()) * rate * 1e-9;
        // A minimum-phase lowpass: a fraction of the 2 ms a linear-phase one would take.
        EXPECT_LT(r.DelayNs(), 500'000);
        printf("DELAY %u %lld\n", rate, (long long)r.DelayNs());
        const size_t at = 1001;
        std::vector<int16_t> in(rate / 4, 0);
        in[at] = 30000;
        // One frame a call: the input taken when each output sample appeared.
        std::vector<int16_t> out;
        std::vector<size_t> takenAt;
        std::vector<int16_t> buf(r.OutputBound(1));
        for (size_t f = 0; f < in.size(); ++f) {
            const size_t got = r.Process(&in[f], 1, buf.data(), buf.size());
            for (size_t k = 0; k < got; ++k) {
                out.push_back(buf[k]);
                takenAt.push_back(f + 1);
            }
        }
        const size_t peak = size_t(std::max_element(out.begin(), out.end()) - out.begin());
        EXPECT_NEAR(double(peak), double(at) * kOut / rate, 1.0);
        // The peak stands for the impulse's time and appears once the input is DelayNs
        // past it: within one output sample's worth of input.
        EXPECT_NEAR(double(takenAt[peak] - 1) - double(peak) * rate / kOut, delayFrames,
                    double(rate) / kOut + 1.0);
    }
}

TEST(LiveResampler, TrimGivesItsRateAndChangesWithoutAStep) {
    // Output counts over 100 s, trimmed against untrimmed, a small trim at 1:1 too.
    for (const auto& [rate, ppm] :
         {std::pair{16000u, 500.0}, std::pair{8000u, 5.0}, std::pair{8000u, -5.0}}) {
        const std::vector<int16_t> in = Tone(rate, 1, 100.0, 440.0, -20.0);
        LiveResampler plain;
        LiveResampler trimmed;
        ASSERT_TRUE(plain.Open(rate, 1, kOut) && trimmed.Open(rate, 1, kOut));
        trimmed.SetTrimPpm(ppm);
        const double base = double(Feed(plain, in, 1, rate / 200).size());
        const double more = double(Feed(trimmed, in, 1, rate / 200).size()) - base;
        EXPECT_NEAR(more / base * 1e6, ppm, 2.0) << rate;
    }
    // A low tone through trims changed every quarter second, back to none again and again,
    // one past the clamp and one too small to apply: no sample-to-sample difference beyond the
    // tone's slope, nor a change of difference beyond its curvature (a step of a tenth of an input
    // frame would show).
    for (const uint32_t rate : {48000u, 44100u}) {
        SCOPED_TRACE(rate);
        const double amp = 16384.0;
        const double w = 2.0 * M_PI * 20.0 / kOut;
        const std::vector<int16_t> in = Tone(rate, 1, 4.0, 20.0, -6.0);
        LiveResampler r;
        ASSERT_TRUE(r.Open(rate, 1, kOut));
        std::vector<int16_t> out;
        const size_t quarter = rate / 4;
        const double trims[][2] = {{0, 0},           {500, 500},   {0, 0},       {-5000, -2000},
                                   {-1999.5, -2000}, {0, 0},       {2000, 2000}, {0, 0},
                                   {0.6, 0},         {-300, -300}, {0, 0},       {3, 3},
                                   {0, 0},           {-3, -3},     {0, 0},       {1.5, 1.5}};
        for (size_t i = 0; i < std::size(trims); ++i) {
            r.SetTrimPpm(trims[i][0]);
            EXPECT_DOUBLE_EQ(r.TrimPpm(), trims[i][1]);
            const std::vector<int16_t> part(in.begin() + long(i * quarter),
                                            in.begin() + long((i + 1) * quarter));
            const std::vector<int16_t> got = Feed(r, part, 1, rate / 500);
            out.insert(out.end(), got.begin(), got.end());
        }
        double slope = 0;
        double bend = 0;
        for (size_t i = 400; i + 1 < out.size(); ++i) {
            slope = std::max(slope, std::fabs(double(out[i]) - out[i - 1]));
            bend = std::max(bend, std::fabs(double(out[i + 1]) - 2.0 * out[i] + out[i - 1]));
        }
        EXPECT_LE(slope, amp * w * 1.01 + 2.0);
        EXPECT_LE(bend, amp * w * w + 4.0);
    }
}

TEST(LiveResampler, BlockSizesAndShortRoomChangeNothing) {
    // 44.1 kHz stereo, 1.2 s: in one call (split inside), in blocks of 37 frames, and in 5 ms
    // blocks given a third of the room they need, the rest taken by a call without input.
    const std::vector<int16_t> in = Tone(44100, 2, 1.2, 700.0, -3.0);
    LiveResampler r;
    ASSERT_TRUE(r.Open(44100, 2, kOut));
    const std::vector<int16_t> whole = Feed(r, in, 2, in.size());
    EXPECT_EQ(r.OutputBound(0), 0u);
    ASSERT_TRUE(r.Open(44100, 2, kOut));
    EXPECT_EQ(Feed(r, in, 2, 37), whole);
    ASSERT_TRUE(r.Open(44100, 2, kOut));
    std::vector<int16_t> out;
    std::vector<int16_t> buf(r.OutputBound(in.size() / 2));
    for (size_t f = 0; f < in.size() / 2; f += 220) {
        const size_t n = std::min<size_t>(220, in.size() / 2 - f);
        const size_t got = r.Process(&in[2 * f], n, buf.data(), r.OutputBound(n) / 3);
        out.insert(out.end(), buf.begin(), buf.begin() + long(got));
    }
    const size_t rest = r.OutputBound(0);
    const size_t got = r.Process(nullptr, 0, buf.data(), buf.size());
    EXPECT_EQ(got, rest);
    out.insert(out.end(), buf.begin(), buf.begin() + long(got));
    EXPECT_EQ(out, whole);
}

TEST(LiveResampler, RefusesWhatItCannotConvert) {
    LiveResampler r;
    EXPECT_TRUE(r.Open(192000, 8, 192000));
    EXPECT_TRUE(r.Open(8000, 1, 8000));
    struct Bad {
        unsigned in, channels, out;
    };
    for (const Bad b :
         {Bad{7999, 1, 8000}, Bad{192001, 1, 8000}, Bad{0, 1, 8000}, Bad{48000, 0, 8000},
          Bad{48000, 9, 8000}, Bad{48000, 1, 7999}, Bad{48000, 1, 192001}}) {
        ASSERT_TRUE(r.Open(48000, 1, kOut));
        EXPECT_FALSE(r.Open(b.in, b.channels, b.out)) << b.in << " " << b.channels << " " << b.out;
        EXPECT_FALSE(r.IsOpen());
        int16_t in[4] = {1000, 1000, 1000, 1000};
        int16_t out[4];
        EXPECT_EQ(r.Process(in, 1, out, 4), 0u);
        r.SetTrimPpm(100);
        EXPECT_EQ(r.TrimPpm(), 0.0);
    }
}

}  // namespace
