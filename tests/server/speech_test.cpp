// Spoken text: what the speech library is never handed, and a spoken announcement's packets
// through the same pipeline as a file's, as many as the speech lasts.

#include "server/speech.h"

#include <gtest/gtest.h>

#include "platform/byteorder.h"
#include "server/sitesource.h"

namespace {

double Seconds(const std::vector<uint8_t>& wave) {
    const uint32_t rate = platform::LoadLe32(wave.data() + 24);
    return static_cast<double>(wave.size() - 44) / (2.0 * rate);
}

TEST(SpeechTest, RefusesWhatCannotBeSaidAndNeverTakesAPathForAVoice) {
    std::vector<uint8_t> wave;
    std::string problem;
    EXPECT_FALSE(speech::RenderWave(" \n\t", "", wave, problem));
    EXPECT_EQ(problem, "there is no text to say");
    EXPECT_FALSE(
        speech::RenderWave(std::string(speech::kMaxTextBytes + 1, 'a'), "", wave, problem));
    EXPECT_EQ(problem, "the text is longer than 2000 bytes");
    for (const char* voice : {"../../etc/passwd", "/usr/share/x", "-v", "en us"}) {
        EXPECT_FALSE(speech::IsVoiceName(voice)) << voice;
        EXPECT_FALSE(speech::RenderWave("hello", voice, wave, problem)) << voice;
    }
    EXPECT_FALSE(speech::RenderWave("hello", "xx-nowhere", wave, problem));
    EXPECT_EQ(problem, "there is no voice named \"xx-nowhere\"");
    EXPECT_TRUE(wave.empty());
    for (const char* voice : {"en", "en-us", "en+f3", "de"}) {
        EXPECT_TRUE(speech::IsVoiceName(voice)) << voice;
    }
}

TEST(SpeechTest, AnAnnouncementGivesAPacketForEveryTwentyMillisecondsOfSpeech) {
    std::vector<uint8_t> wave;
    std::string problem;
    ASSERT_TRUE(
        speech::RenderWave("Attention please. The car park closes at six.", "en", wave, problem))
        << problem;
    ASSERT_EQ(std::string(wave.begin(), wave.begin() + 4), "RIFF");
    const double seconds = Seconds(wave);
    EXPECT_GT(seconds, 1.5);

    for (const int32_t law : {7, 6}) {
        SiteSource::Settings settings;
        settings.name = "car park";
        settings.destinations.push_back(RtpDestination::FromOctets(127, 0, 0, 1, 9));
        auto run = PlaylistRun::Speech(settings, wave, law, 20, problem);
        ASSERT_NE(run, nullptr) << problem;
        EXPECT_STREQ(run->Kind(), "speech");
        ASSERT_TRUE(run->Open()) << run->Failure();
        size_t packets = 0;
        SourcePacket packet;
        while (!run->Finished() && packets < 100000) {
            ASSERT_TRUE(run->Take(static_cast<int64_t>(packets) * 20'000'000, packet));
            EXPECT_EQ(packet.length, 160);
            EXPECT_EQ(packet.payloadType, law == 7 ? 0 : 8);
            ++packets;
            run->Advance();
        }
        // Every sample is sent, the last packet filled out; nothing more than the converter's
        // tail is added.
        EXPECT_NEAR(static_cast<double>(packets) * 0.020, seconds, 0.05) << "law " << law;
        EXPECT_TRUE(run->Failure().empty());
    }
}

}  // namespace
