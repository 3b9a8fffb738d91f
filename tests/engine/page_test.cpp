// A live page through the real ALSA calls (a `file` PCM playing a tone this test writes) to
// 127.0.0.1 on the engine's own senders.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codec/waveformat.h"
#include "engine/pagelatency.h"
#include "engine/winsonvex.h"
#include "enginetestsupport.h"
#include "platform/alsacapture.h"
#include "platform/monotonicclock.h"
#include "support/loopbackreceiver.h"
#include "support/mulaw.h"
#include "support/tempdir.h"

namespace {

constexpr double kToneHz = 1000.0;

struct SineFit {
    double amplitude = 0;
    double snrDb = 0;
};

// 8 kHz samples against the sine of kToneHz that fits them best: its amplitude, and the
// signal to noise in dB.
SineFit FitSine(const std::vector<double>& x) {
    double c = 0;
    double s = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        c += x[n] * std::cos(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
        s += x[n] * std::sin(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
    }
    c *= 2.0 / static_cast<double>(x.size());
    s *= 2.0 / static_cast<double>(x.size());
    double signal = 0;
    double noise = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double fit = c * std::cos(2 * M_PI * kToneHz * static_cast<double>(n) / 8000) +
                           s * std::sin(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
        signal += fit * fit;
        noise += (x[n] - fit) * (x[n] - fit);
    }
    return {std::hypot(c, s), 10 * std::log10(signal / std::max(noise, 1e-9))};
}

TEST(Page, CapturedToneReachesTheDestinationAsMulaw_MarkerOnEachPagesFirstPacket_SequenceRunsOn) {
    testsupport::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    ASSERT_TRUE(MakeToneDevice(dir.Path(), kToneHz));
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    const std::vector<RtpDestination> destinations{
        RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port())};

    WinSonvex engine;
    std::vector<std::vector<uint8_t>> packets;
    for (int page = 0; page < 2; ++page) {
        // The second at the live volume of -6 dB: a page keeps the operator's gain.
        engine.SetVolumeDb(page == 0 ? 0 : -6);
        platform::AlsaCapture capture;
        ASSERT_TRUE(capture.Open("tone", 20000)) << capture.Reason();
        ASSERT_TRUE(engine.OpenPage(WAVE_FORMAT_MULAW, 20, capture.Rate(), capture.Channels(),
                                    capture.PeriodFrames(), destinations,
                                    platform::MonotonicNowNs()));
        std::vector<int16_t> block(capture.PeriodFrames() * capture.Channels());
        int sent = 0;
        while (sent < 25) {
            size_t frames = 0;
            int64_t ns = 0;
            ASSERT_EQ(capture.Read(block.data(), frames, ns),
                      platform::AlsaCapture::ReadResult::kBlock);
            sent += engine.PageBlock(block.data(), frames);
        }
        engine.ClosePage();
        for (int i = 0; i < sent; ++i) {
            auto datagram = receiver.Receive();
            ASSERT_TRUE(datagram.has_value());
            ASSERT_EQ(datagram->size(), 12u + 160u);
            EXPECT_EQ(((*datagram)[1] & 0x80) != 0, i == 0) << "page " << page << " packet " << i;
            EXPECT_EQ((*datagram)[1] & 0x7F, 0);
            packets.push_back(std::move(*datagram));
        }
    }
    EXPECT_FALSE(engine.OpenPage(WAVE_FORMAT_MULAW, 0, 48000, 1, 960, destinations, 0));
    EXPECT_FALSE(engine.OpenPage(WAVE_FORMAT_PCM, 20, 48000, 1, 960, destinations, 0));

    for (size_t i = 1; i < packets.size(); ++i) {
        const auto seq = [&](size_t k) { return packets[k][2] << 8 | packets[k][3]; };
        const auto stamp = [&](size_t k) {
            return static_cast<uint32_t>(packets[k][4]) << 24 | packets[k][5] << 16 |
                   packets[k][6] << 8 | packets[k][7];
        };
        EXPECT_EQ(static_cast<uint16_t>(seq(i) - seq(i - 1)), 1u) << i;
        // Within a page the timestamps run on a packet each; the pause before a page at least.
        EXPECT_GE(stamp(i) - stamp(i - 1), 160u) << i;
        if (i != 25) {
            EXPECT_EQ(stamp(i) - stamp(i - 1), 160u) << i;
        }
    }
    // Each page's audio, past the rate converter's start, against the tone.
    const auto pageAudio = [&](size_t first) {
        std::vector<double> audio;
        for (size_t i = first + 5; i < first + 25; ++i) {
            for (size_t b = 12; b < packets[i].size(); ++b) {
                audio.push_back(testsupport::MulawToLinear(packets[i][b]));
            }
        }
        return FitSine(audio);
    };
    const SineFit full = pageAudio(0);
    const SineFit lowered = pageAudio(25);
    EXPECT_GT(full.snrDb, 33.0);
    EXPECT_GT(lowered.snrDb, 30.0);
    EXPECT_NEAR(lowered.amplitude / full.amplitude, 0.501, 0.03);
}

TEST(Page, LatencyPercentilesNeverUnderstateAndAnOutlierOnlyMovesTheTail) {
    PageLatency latency;
    EXPECT_EQ(latency.Summarise().count, 0u);
    for (int i = 0; i < 990; ++i) {
        latency.Record(1234567);  // 1.23 ms: the 1.2-1.3 ms bin
    }
    for (int i = 0; i < 10; ++i) {
        latency.Record(-5);  // a clock read before the capture time counts as none
    }
    latency.Record(3000000000);  // 3 s, past the last bin
    const PageLatency::Summary s = latency.Summarise();
    EXPECT_EQ(s.count, 1001u);
    EXPECT_EQ(s.medianUs, 1300);
    EXPECT_EQ(s.p99Us, 1300);
    EXPECT_EQ(s.maxUs, 3000000);
    latency.Reset();
    latency.Record(40000);
    EXPECT_EQ(latency.Summarise().medianUs, 40);  // never above the largest seen
}

}  // namespace
