// A resampled source starts on time and keeps its length, in the converter's output file and
// in the streamed payload: compared by cross-correlation with the same source resampled by
// sox, which has no delay of its own.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "convert/mediaconverter.h"
#include "enginetestsupport.h"
#include "support/wavefile.h"

namespace {

constexpr double kSeconds = 1.3;

bool RunQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A chirp from 200 Hz to 3.4 kHz: its cross-correlation has one sharp peak.
std::vector<uint8_t> Chirp(uint32_t rate, uint16_t channels) {
    const auto frames = static_cast<uint32_t>(std::lround(kSeconds * rate));
    return testsupport::Pcm16(frames, channels, [&](uint32_t i, uint16_t) {
        const double t = i / static_cast<double>(rate);
        const double phase = 2.0 * M_PI * (200.0 * t + (3200.0 / (2.0 * kSeconds)) * t * t);
        return static_cast<int16_t>(std::lround(12000.0 * std::sin(phase)));
    });
}

std::vector<double> ReadRaw16(const std::string& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    std::vector<double> out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<int16_t>(testsupport::GetU16(bytes, i)));
    }
    return out;
}

std::vector<double> DecodeMulaw(const std::vector<uint8_t>& codes) {
    std::vector<double> out;
    for (uint8_t code : codes) {
        out.push_back(MulawDecode(code));
    }
    return out;
}

// The shift of `signal` against `reference` (positive: signal late) with the best normalised
// correlation over the reference's length.
int Lag(const std::vector<double>& signal, const std::vector<double>& reference) {
    int best = 0;
    double bestScore = -2.0;
    for (int lag = -100; lag <= 100; ++lag) {
        double dot = 0.0;
        double a = 0.0;
        double b = 0.0;
        for (size_t i = 0; i < reference.size(); ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(signal.size())) {
                continue;
            }
            dot += signal[static_cast<size_t>(j)] * reference[i];
            a += signal[static_cast<size_t>(j)] * signal[static_cast<size_t>(j)];
            b += reference[i] * reference[i];
        }
        const double score = a > 0 && b > 0 ? dot / std::sqrt(a * b) : -1.0;
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

class NullSink : public ConvertDoneSink {
public:
    void PostConvertDone(uintptr_t, intptr_t) override {}
};

TEST(AudioStart, ResampledSourcesStartOnTimeAndKeepTheirLength) {
    if (!RunQuietly("sox --version") || !RunQuietly("lame --version")) {
        GTEST_SKIP() << "sox and lame make the sources and the reference";
    }
    TempDir dir;
    struct Case {
        const char* name;
        uint32_t rate;
        uint16_t channels;
        bool mp3;
    };
    for (const Case& c : {Case{"wav44k", 44100, 2, false}, Case{"wav48k", 48000, 1, false},
                          Case{"wav22k", 22050, 1, false}, Case{"mp3", 44100, 1, true}}) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir.File(std::string(c.name) + ".wav");
        ASSERT_TRUE(testsupport::WriteWave(wav, WAVE_FORMAT_PCM, c.channels, c.rate, 16,
                                           Chirp(c.rate, c.channels)));
        std::string source = wav;
        if (c.mp3) {
            source = dir.File("chirp.mp3");
            ASSERT_TRUE(RunQuietly("lame --quiet -b 192 '" + wav + "' '" + source + "'"));
        }
        // No dither: the reference is the resampled source alone.
        const std::string ref = dir.File(std::string(c.name) + ".raw");
        ASSERT_TRUE(
            RunQuietly("sox -D '" + wav + "' -r 8000 -c 1 -b 16 -e signed-integer '" + ref + "'"));
        const std::vector<double> reference = ReadRaw16(ref);
        const auto expected = static_cast<double>(std::lround(kSeconds * 8000));

        // The converter: exactly the duration's samples, in step with the reference.
        MediaConverter converter;
        std::vector<uint8_t> record(converter.FormatRecordSize());
        converter.WriteOutputFormat(record.data());
        const std::string out = dir.File(std::string(c.name) + "-out.wav");
        ASSERT_TRUE(converter.OpenChain(source.c_str(), out.c_str(), record.data()));
        NullSink sink;
        EXPECT_EQ(converter.ConversionWorker(sink), 0);
        const std::vector<uint8_t> file = testsupport::ReadFile(out);
        ASSERT_GT(file.size(), 58u);
        const std::vector<double> converted =
            DecodeMulaw(std::vector<uint8_t>(file.begin() + 58, file.end()));
        EXPECT_NEAR(static_cast<double>(converted.size()), expected, 1.0);
        EXPECT_NEAR(Lag(converted, reference), 0, 1);

        // The stream: the first packet starts with the first sample; the last is padded.
        WinSonvex engine;
        Transmitter transmitter;
        engine.Feed(&transmitter);
        PlaylistFile entry;
        ASSERT_TRUE(MakeEntry(engine, source, WAVE_FORMAT_MULAW, 20, entry));
        RtpReceiver receiver;
        ASSERT_TRUE(engine.OpenEntry(entry, {receiver.Destination()}));
        for (int guard = 0; guard < 1000 && !engine.EndOfSource(); ++guard) {
            engine.ProducePacket();
        }
        engine.CloseEntry();
        std::vector<uint8_t> codes;
        for (const RtpPacket& packet : receiver.TakeAll()) {
            codes.insert(codes.end(), packet.payload.begin(), packet.payload.end());
        }
        const std::vector<double> streamed = DecodeMulaw(codes);
        EXPECT_EQ(streamed.size(), static_cast<size_t>(std::ceil(expected / 160) * 160));
        EXPECT_NEAR(Lag(streamed, reference), 0, 1);
    }
}

}  // namespace
