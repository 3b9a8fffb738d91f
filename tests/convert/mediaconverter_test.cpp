#include "convert/mediaconverter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "codec/acm.h"
#include "codec/waveformat.h"
#include "media/sourceprobe.h"
#include "support/filesizelimit.h"
#include "support/sourcekinds.h"
#include "testmedia.h"

namespace {

using testmedia::GetU16;
using testmedia::GetU32;

class RecordingSink : public ConvertDoneSink {
public:
    void PostConvertDone(uintptr_t wParam, intptr_t lParam) override {
        std::lock_guard lock(m_mutex);
        m_messages.emplace_back(wParam, lParam);
    }
    std::vector<std::pair<uintptr_t, intptr_t>> Messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<uintptr_t, intptr_t>> m_messages;
};

class MediaConverterTest : public ::testing::Test {
protected:
    // The record the dialog fills before each conversion.
    std::vector<uint8_t> OutputRecord() const {
        std::vector<uint8_t> record(m_converter.FormatRecordSize());
        m_converter.WriteOutputFormat(record.data());
        return record;
    }

    // Runs a whole conversion on this thread; false when the chain did not open.
    bool Convert(const std::filesystem::path& source, const std::filesystem::path& output) {
        m_record = OutputRecord();
        if (!m_converter.OpenChain(source.c_str(), output.c_str(), m_record.data())) {
            return false;
        }
        EXPECT_EQ(m_converter.ConversionWorker(m_sink), 0);
        EXPECT_FALSE(m_converter.IsOpen());
        return true;
    }

    // Checks the 58-byte header and its sizes; returns the data bytes.
    static std::vector<uint8_t> ReadOutput(const std::filesystem::path& path) {
        const std::vector<uint8_t> file = testmedia::ReadAll(path);
        EXPECT_GE(file.size(), 58u);
        if (file.size() < 58) {
            return {};
        }
        EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
        EXPECT_EQ(GetU32(file, 4), file.size() - 8);
        EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(GetU32(file, 16), 18u);
        EXPECT_EQ(GetU16(file, 20), WAVE_FORMAT_MULAW);
        EXPECT_EQ(GetU16(file, 22), 1);
        EXPECT_EQ(GetU32(file, 24), 8000u);
        EXPECT_EQ(GetU32(file, 28), 8000u);
        EXPECT_EQ(GetU16(file, 32), 1);
        EXPECT_EQ(GetU16(file, 34), 8);
        EXPECT_EQ(GetU16(file, 36), 0);
        EXPECT_EQ(std::memcmp(file.data() + 38, "fact", 4), 0);
        EXPECT_EQ(GetU32(file, 42), 4u);
        EXPECT_EQ(std::memcmp(file.data() + 50, "data", 4), 0);
        EXPECT_EQ(GetU32(file, 54), file.size() - 58);
        return {file.begin() + 58, file.end()};
    }

    static std::vector<double> Decode(const std::vector<uint8_t>& mulaw) {
        std::vector<double> out;
        for (uint8_t code : mulaw) {
            out.push_back(testmedia::MulawToLinear(code));
        }
        return out;
    }

    testmedia::TempDir m_dir;
    MediaConverter m_converter;
    std::vector<uint8_t> m_record;
    RecordingSink m_sink;
};

// Three one-second chunks: three progress messages of 1, 2, 3 seconds, then the end.
TEST_F(MediaConverterTest, WholeChunksGiveOneProgressMessageEach) {
    const auto source = m_dir / "three.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Tone(3 * 8000, 1, 8000, 440, 0.5));
    ASSERT_TRUE(Convert(source, m_dir / "three_convert.wav"));
    const auto data = ReadOutput(m_dir / "three_convert.wav");
    EXPECT_NEAR(static_cast<double>(data.size()), 24000.0, 200.0);

    const auto messages = m_sink.Messages();
    ASSERT_EQ(messages.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].first, 0u);
    }
    // Whole seconds written so far, truncated.
    EXPECT_EQ(messages[2].second, static_cast<intptr_t>(data.size() / 8000));
    EXPECT_LE(messages[0].second, 1);
    EXPECT_EQ(messages[3], std::make_pair(uintptr_t{1}, intptr_t{0}));
}

// Every kind of source is written whole: the output lasts as long as the source within the
// rate converter's filter length (the tone fills it from start to end), at the source's level
// within 0.5 dB whatever the channel count. An MP3 stream inside a WAV file carries its
// encoder's delay and padding untagged: there the tone's own length is what must match.
class ConverterKindTest : public MediaConverterTest,
                          public ::testing::WithParamInterface<testsupport::SourceKind> {};

TEST_P(ConverterKindTest, WholeSourceIsWrittenAtItsLevel) {
    const testsupport::SourceKind& kind = GetParam();
    std::filesystem::path source;
    if (!testsupport::MakeSourceKind(kind, m_dir.Path(), source)) {
        GTEST_SKIP() << "the tool that makes " << kind.name << " is missing";
    }
    ASSERT_TRUE(Convert(source, m_dir / "out.wav"));
    std::vector<int> samples;
    for (uint8_t code : ReadOutput(m_dir / "out.wav")) {
        samples.push_back(testmedia::MulawToLinear(code));
    }
    const testsupport::ToneSpan tone = testsupport::FindTone(samples, 160);
    const double expected = static_cast<double>(kind.frames) * 8000.0 / kind.rate;
    constexpr double kFilterSamples = 64;
    EXPECT_NEAR(static_cast<double>(tone.end - tone.first), expected, kFilterSamples);
    if (!kind.untrimmedEncoderDelay) {
        EXPECT_NEAR(static_cast<double>(samples.size()), expected, kFilterSamples);
    }
    EXPECT_NEAR(tone.levelDb, 0.0, 0.5);
    EXPECT_EQ(m_sink.Messages().back(), std::make_pair(uintptr_t{1}, intptr_t{0}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ConverterKindTest, ::testing::ValuesIn(testsupport::SourceKinds()),
                         [](const auto& param) { return std::string(param.param.name); });

// A source shorter than a chunk is written whole: one progress message, then the end.
TEST_F(MediaConverterTest, SourceShorterThanAChunkIsWrittenWhole) {
    const auto source = m_dir / "short.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Tone(4000, 1, 8000, 440, 0.5));
    ASSERT_TRUE(Convert(source, m_dir / "out.wav"));
    EXPECT_EQ(ReadOutput(m_dir / "out.wav").size(), 4000u);
    ASSERT_EQ(m_sink.Messages().size(), 2u);
    EXPECT_EQ(m_sink.Messages()[0], std::make_pair(uintptr_t{0}, intptr_t{0}));
    EXPECT_EQ(m_sink.Messages()[1].first, 1u);
}

// Mu-law, 8000 Hz, mono in: still three stages, and the audio comes back out.
TEST_F(MediaConverterTest, MulawSourcePassesThroughAllStages) {
    const auto pcm = testmedia::Tone(2 * 8000, 1, 8000, 1020, 0.5);
    std::vector<uint8_t> mulaw;
    {
        // Encode through the codec services themselves so the test needs no encoder.
        const auto wav = m_dir / "lin.wav";
        testmedia::WriteWave(wav, WAVE_FORMAT_PCM, 1, 8000, 16, pcm);
        ASSERT_TRUE(Convert(wav, m_dir / "mu.wav"));
        mulaw = ReadOutput(m_dir / "mu.wav");
    }
    const auto source = m_dir / "mu_source.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_MULAW, 1, 8000, 8, mulaw);
    ASSERT_TRUE(Convert(source, m_dir / "again.wav"));
    const auto again = Decode(ReadOutput(m_dir / "again.wav"));
    ASSERT_GT(again.size(), 8000u);
    EXPECT_NEAR(testmedia::Rms(again, 1000, again.size()), 0.5 * 32767 / std::sqrt(2.0), 600.0);
}

// The mix-down to mono averages the channels: a left channel at 0.6 and a right at 0.2 of
// full scale give 0.4.
TEST_F(MediaConverterTest, StereoIsAveraged) {
    const auto stereo = testmedia::Pcm16(2 * 8000, 2, [](uint32_t i, uint16_t c) {
        const double s = std::sin(2.0 * M_PI * 500 * i / 8000.0);
        return static_cast<int>(std::lround((c == 0 ? 0.6 : 0.2) * 32767 * s));
    });
    testmedia::WriteWave(m_dir / "stereo.wav", WAVE_FORMAT_PCM, 2, 8000, 16, stereo);
    ASSERT_TRUE(Convert(m_dir / "stereo.wav", m_dir / "stereo_out.wav"));
    const auto mixed = Decode(ReadOutput(m_dir / "stereo_out.wav"));
    ASSERT_GT(mixed.size(), 4000u);
    EXPECT_NEAR(testmedia::Rms(mixed, 1000, mixed.size()) / (0.4 * 32767 / std::sqrt(2.0)), 1.0,
                0.03);
}

// MP3 chunks are a fraction of a second: the first messages report 0 whole seconds, the
// reported seconds never go back, and the last equals the data written.
TEST_F(MediaConverterTest, Mp3ProgressCountsWholeSecondsOfOutput) {
    const auto wav = m_dir / "tone.wav";
    testmedia::WriteWave(wav, WAVE_FORMAT_PCM, 2, 44100, 16,
                         testmedia::Tone(44100 * 3, 2, 44100, 1020, 0.5));
    if (!testmedia::EncodeMp3(wav, m_dir / "tone.mp3")) {
        GTEST_SKIP() << "no MP3 encoder";
    }
    ASSERT_TRUE(Convert(m_dir / "tone.mp3", m_dir / "tone_convert.wav"));
    const auto data = ReadOutput(m_dir / "tone_convert.wav");
    EXPECT_NEAR(static_cast<double>(data.size()), 24000.0, 800.0);
    const auto messages = m_sink.Messages();
    ASSERT_GT(messages.size(), 10u);
    EXPECT_EQ(messages.front(), std::make_pair(uintptr_t{0}, intptr_t{0}));
    for (size_t i = 1; i + 1 < messages.size(); ++i) {
        EXPECT_EQ(messages[i].first, 0u);
        EXPECT_GE(messages[i].second, messages[i - 1].second);
    }
    EXPECT_EQ(messages[messages.size() - 2].second, static_cast<intptr_t>(data.size() / 8000));
    EXPECT_EQ(messages.back().first, 1u);
}

// No codec decodes this tag: the chain fails, and the output it had begun is dropped.
TEST_F(MediaConverterTest, SourceWithoutDecoderLeavesNoOutput) {
    const auto source = m_dir / "g729.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_G729A, 1, 8000, 8, std::vector<uint8_t>(8000, 0));
    const auto output = m_dir / "g729_convert.wav";
    EXPECT_FALSE(Convert(source, output));
    EXPECT_EQ(m_converter.Failure(), ChainFailure::Codec);
    EXPECT_FALSE(std::filesystem::exists(output));
    // The input was closed: the object converts again.
    testmedia::WriteWave(m_dir / "ok.wav", WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Tone(8000, 1, 8000, 440, 0.5));
    EXPECT_TRUE(Convert(m_dir / "ok.wav", m_dir / "ok_convert.wav"));
}

TEST_F(MediaConverterTest, RefusedOpensLeaveNothingOpen) {
    testmedia::WriteWave(m_dir / "ok.wav", WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Tone(8000, 1, 8000, 440, 0.5));
    // Missing source: nothing is created.
    EXPECT_FALSE(Convert(m_dir / "missing.wav", m_dir / "missing_out.wav"));
    EXPECT_EQ(m_converter.Failure(), ChainFailure::Source);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "missing_out.wav"));
    // An output named .mp3 is refused, before anything is made.
    EXPECT_FALSE(Convert(m_dir / "ok.wav", m_dir / "out.mp3"));
    EXPECT_EQ(m_converter.Failure(), ChainFailure::Output);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "out.mp3"));
    // An output in a folder that does not exist.
    EXPECT_FALSE(Convert(m_dir / "ok.wav", m_dir / "no" / "such.wav"));
    EXPECT_EQ(m_converter.Failure(), ChainFailure::Output);
    EXPECT_FALSE(m_converter.OutputError().empty());
    // Converting a file onto itself would destroy the source before it was read.
    const auto before = testmedia::ReadAll(m_dir / "ok.wav");
    EXPECT_FALSE(Convert(m_dir / "ok.wav", m_dir / "ok.wav"));
    EXPECT_EQ(testmedia::ReadAll(m_dir / "ok.wav"), before);
    EXPECT_FALSE(m_converter.IsOpen());
    // After all of that the same object still converts.
    EXPECT_TRUE(Convert(m_dir / "ok.wav", m_dir / "ok_convert.wav"));
    ReadOutput(m_dir / "ok_convert.wav");
}

// The worker decodes ahead on a helper thread; what it writes and reports must be what one
// ConvertBlock pass after another gives: the same bytes in the same order, one progress
// message per block with output. MP3 blocks vary in decoded length (the first chunk yields
// nothing): every length passes stages prepared once for the longest.
TEST_F(MediaConverterTest, WorkerMatchesBlockByBlockConversion) {
    const auto wav = m_dir / "music.wav";
    testmedia::WriteWave(wav, WAVE_FORMAT_PCM, 2, 44100, 16,
                         testmedia::Tone(44100 * 4, 2, 44100, 733, 0.7));
    std::vector<std::filesystem::path> sources = {wav};
    if (testmedia::EncodeMp3(wav, m_dir / "music.mp3")) {
        sources.push_back(m_dir / "music.mp3");
    }
    for (const auto& source : sources) {
        SCOPED_TRACE(source.filename().string());
        m_record = OutputRecord();
        ASSERT_TRUE(m_converter.OpenChain(source.c_str(), (m_dir / "by_block.wav").c_str(),
                                          m_record.data()));
        std::vector<uint8_t> expected;
        std::vector<std::pair<uintptr_t, intptr_t>> expectedMessages;
        std::unique_ptr<uint8_t[]> block;
        uint32_t length = 0;
        while (m_converter.ConvertBlock(block, length)) {
            if (length > 0) {
                expected.insert(expected.end(), block.get(), block.get() + length);
                expectedMessages.emplace_back(0, static_cast<intptr_t>(expected.size() / 8000));
            }
        }
        m_converter.CloseChain();
        expectedMessages.emplace_back(1, 0);
        ASSERT_GT(expected.size(), 3u * 8000u);

        RecordingSink sink;
        m_record = OutputRecord();
        const auto output = m_dir / "worker.wav";
        ASSERT_TRUE(m_converter.OpenChain(source.c_str(), output.c_str(), m_record.data()));
        std::thread worker([&] { m_converter.ConversionWorker(sink); });
        worker.join();
        EXPECT_EQ(ReadOutput(output), expected);
        EXPECT_EQ(sink.Messages(), expectedMessages);
        EXPECT_FALSE(m_converter.IsOpen());
    }
}

// A stop request from another thread ends the worker at its next pass; nothing of the
// shortened conversion is written under the output's name.
TEST_F(MediaConverterTest, StopRequestEndsWorkerWithoutOutput) {
    const auto source = m_dir / "long.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_PCM, 2, 44100, 16,
                         testmedia::Repeat(testmedia::Tone(44100, 2, 44100, 441, 0.5), 120));
    m_record = OutputRecord();
    const auto output = m_dir / "long_convert.wav";
    ASSERT_TRUE(m_converter.OpenChain(source.c_str(), output.c_str(), m_record.data()));
    std::thread worker([this] { m_converter.ConversionWorker(m_sink); });
    while (m_sink.Messages().empty()) {
        std::this_thread::yield();
    }
    m_converter.RequestStop();
    worker.join();
    EXPECT_FALSE(std::filesystem::exists(output));
    const auto messages = m_sink.Messages();
    EXPECT_EQ(messages.back(), std::make_pair(uintptr_t{1}, kConvertStopped));
    EXPECT_FALSE(m_converter.IsOpen());
}

// A conversion puts its output in place only when it read the whole input and wrote all of
// it: a full disk, an input that shrinks meanwhile or a format no codec decodes leave an
// earlier file of the output's name as it was, and nothing else behind. Files the reader
// accepts but no codec decodes (ADPCM with 3 or 8 channels, as sox writes them) are refused
// by the probe with that reason.
TEST_F(MediaConverterTest, ConversionNeverLeavesAWrongFile) {
    const auto source = m_dir / "long.wav";
    testmedia::WriteWave(source, WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Repeat(testmedia::Tone(8000, 1, 8000, 441, 0.5), 20));
    const auto folder = m_dir / "out";
    std::filesystem::create_directory(folder);
    const auto output = folder / "long_convert.wav";
    auto untouched = [&] {
        EXPECT_EQ(testmedia::ReadAll(output), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    };
    std::ofstream(output) << "old";
    {
        testsupport::FileSizeLimit full(50000);  // a disk that fills up at 50 kB
        ASSERT_TRUE(full.Active());
        ASSERT_TRUE(Convert(source, output));
    }
    EXPECT_EQ(m_sink.Messages().back(), std::make_pair(uintptr_t{1}, kConvertWriteFailed));
    untouched();

    m_record = OutputRecord();
    ASSERT_TRUE(m_converter.OpenChain(source.c_str(), output.c_str(), m_record.data()));
    std::filesystem::resize_file(source, 20000);  // shrinks after it was measured
    m_converter.ConversionWorker(m_sink);
    EXPECT_EQ(m_sink.Messages().back(), std::make_pair(uintptr_t{1}, kConvertSourceFailed));
    untouched();

    const auto g729 = m_dir / "g729.wav";
    testmedia::WriteWave(g729, WAVE_FORMAT_G729A, 1, 8000, 8, std::vector<uint8_t>(8000, 0));
    EXPECT_FALSE(Convert(g729, output));
    untouched();

    testmedia::WriteWave(source, WAVE_FORMAT_PCM, 1, 8000, 16,
                         testmedia::Tone(8000, 1, 8000, 441, 0.5));
    EXPECT_TRUE(Convert(source, output));  // and a whole conversion replaces it
    EXPECT_FALSE(ReadOutput(output).empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);

    for (const char* encoding : {"ima-adpcm", "ms-adpcm"}) {
        for (const int channels : {3, 8}) {
            const auto adpcm = m_dir / "adpcm.wav";
            const std::string make = "sox -q -n -r 8000 -c " + std::to_string(channels) + " -e " +
                                     encoding + " '" + adpcm.string() + "' synth 1 sine 440";
            if (std::system(make.c_str()) != 0) {
                GTEST_SKIP() << "sox could not make " << encoding;
            }
            SourceFormatInfo info;
            std::string description;
            std::string reason;
            EXPECT_FALSE(ProbeSourceFile(adpcm.c_str(), info, description, reason));
            EXPECT_EQ(reason.rfind("no codec decodes format tag ", 0), 0u) << reason;
        }
    }
}

}  // namespace
