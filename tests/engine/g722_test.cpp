// G.722 out of the file engine: payload type 9, 160 bytes a 20 ms packet whose timestamps step
// 160 (the 8 kHz RTP clock of RFC 3551 though the audio is sampled at 16 kHz), the file
// resampled to 16 kHz so that a 6 kHz tone comes through where G.711 cannot carry it, and a
// source already at 16 kHz coded exactly as the coder alone codes it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "codec/g722.h"
#include "codecmedia.h"
#include "enginetestsupport.h"
#include "playlist/outputcodec.h"

namespace {

constexpr double kPeak = 12000;

class G722EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<WinSonvex>();
        if (engine->Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        engine->Feed(&transmitter);
    }
    // The packets of the whole file in `format`, as a receiver on loopback gets them.
    std::vector<RtpPacket> Stream(const std::string& path, int32_t format) {
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(*engine, path, format, 20, entry));
        entry.DstSampleRate = FindOutputCodec(format)->sampleRate;
        RtpReceiver receiver;
        EXPECT_TRUE(engine->OpenEntry(entry, {receiver.Destination()}));
        EXPECT_EQ(engine->ClockRate(), 8000);
        size_t produced = 0;
        for (int guard = 0; guard < 10000 && engine->ProducePacket(); ++guard) {
            ++produced;
        }
        engine->CloseEntry();
        std::vector<RtpPacket> packets = receiver.TakeAll();
        EXPECT_EQ(packets.size(), produced);
        return packets;
    }
    // The packets' G.722 decoded in order, at 16 kHz.
    static std::vector<int16_t> Decode(const std::vector<RtpPacket>& packets) {
        G722Decoder decoder;
        std::vector<int16_t> samples;
        for (const RtpPacket& packet : packets) {
            std::vector<int16_t> out(packet.payload.size() * 2);
            decoder.Decode(packet.payload.data(), packet.payload.size(), out.data());
            samples.insert(samples.end(), out.begin(), out.end());
        }
        return samples;
    }

    TempDir dir;
    Transmitter transmitter;
    std::unique_ptr<WinSonvex> engine;
};

}  // namespace

TEST_F(G722EngineTest, PacketsRunOnTheNarrowClockAndCarryTheWideBand) {
    const std::string path = dir.File("6k.wav");
    ASSERT_TRUE(WritePcmWav(path, 44100, 1, 1.0, 6000, kPeak));
    const std::vector<RtpPacket> packets = Stream(path, kFormatG722);
    ASSERT_GE(packets.size(), 50u);
    for (size_t k = 0; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(packets[k].payloadType, 9);
        ASSERT_EQ(packets[k].payload.size(), 160u);
        if (k > 0) {
            EXPECT_EQ(packets[k].timestamp - packets[k - 1].timestamp, 160u);
        }
    }
    const std::vector<int16_t> wide = Decode(packets);
    const codecmedia::ToneFit fit = codecmedia::FitTone(wide, 16000, 6000, 1600);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / kPeak), 0.0, 1.0) << fit.amplitude;
    EXPECT_GT(fit.snrDb, 20.0);

    // The same file in mu-law: at 8 kHz the tone lies above the band and is filtered out.
    std::vector<int16_t> narrow;
    for (const RtpPacket& packet : Stream(path, kFormatMulaw)) {
        for (const uint8_t code : packet.payload) {
            narrow.push_back(MulawDecode(code));
        }
    }
    EXPECT_LT(codecmedia::Rms(narrow, 800, narrow.size() - 800), kPeak / 1000);
}

// A 16 kHz source passes the rate stage untouched: its packets are the coder's own output of
// the file, the last one completed with coded silence. A 44.1 kHz source of a 1020 Hz tone,
// decoded, against an ideal G.722 coding of the same tone at 16 kHz: the figure is printed.
TEST_F(G722EngineTest, CodesAsTheCoderAloneAndResamplesCleanly) {
    const std::string exact = dir.File("16k.wav");
    const double seconds = 0.51;  // not whole packets: the last one is padded
    ASSERT_TRUE(WritePcmWav(exact, 16000, 1, seconds, 1020, kPeak));
    std::vector<uint8_t> payload;
    for (const RtpPacket& packet : Stream(exact, kFormatG722)) {
        payload.insert(payload.end(), packet.payload.begin(), packet.payload.end());
    }
    const auto frames = static_cast<size_t>(std::lround(seconds * 16000));
    std::vector<int16_t> tone((frames + 319) / 320 * 320, 0);
    for (size_t n = 0; n < frames; ++n) {
        tone[n] = testsupport::SineSample(n, 16000, 1020, kPeak);
    }
    G722Encoder encoder;
    std::vector<uint8_t> ideal(tone.size() / 2);
    encoder.Encode(tone.data(), tone.size(), ideal.data());
    EXPECT_EQ(payload, ideal);

    const std::string resampled = dir.File("44k.wav");
    ASSERT_TRUE(WritePcmWav(resampled, 44100, 1, 2.0, 1020, kPeak));
    const std::vector<int16_t> got = Decode(Stream(resampled, kFormatG722));
    std::vector<int16_t> source(got.size());
    for (size_t n = 0; n < source.size(); ++n) {
        source[n] = n < 32000 ? testsupport::SineSample(n, 16000, 1020, kPeak) : 0;
    }
    G722Encoder idealEncoder;
    G722Decoder idealDecoder;
    std::vector<uint8_t> codes(source.size() / 2);
    idealEncoder.Encode(source.data(), source.size(), codes.data());
    std::vector<int16_t> best(source.size());
    idealDecoder.Decode(codes.data(), codes.size(), best.data());
    // The middle second: the edges hold the converter's ramp and the coder's settling.
    double signal = 0;
    double noise = 0;
    for (size_t n = 8000; n < 24000 && n < got.size(); ++n) {
        signal += double(best[n]) * best[n];
        noise += (double(got[n]) - best[n]) * (double(got[n]) - best[n]);
    }
    const double snrDb = 10 * std::log10(signal / std::max(noise, 1.0));
    const codecmedia::ToneFit own = codecmedia::FitTone(best, 16000, 1020, 8000);
    const codecmedia::ToneFit fit = codecmedia::FitTone(got, 16000, 1020, 8000);
    std::printf(
        "G.722 1020 Hz from 44.1 kHz: %.1f dB against the ideal coding; tone SNR %.1f dB "
        "(ideal %.1f dB)\n",
        snrDb, fit.snrDb, own.snrDb);
    EXPECT_GT(snrDb, 30.0);
    EXPECT_GT(fit.snrDb, own.snrDb - 1.0);
}
