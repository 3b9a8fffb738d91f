// Capture through the real ALSA calls on a device that needs no hardware: a `file` PCM whose
// infile is a tone this test writes, found through an .asoundrc in the test's own HOME.
#include "platform/alsacapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/monotonicclock.h"
#include "support/tempdir.h"
#include "support/wavefile.h"

namespace {

TEST(AlsaCapture, ReadsTheToneInPeriodsNoLongerThanAsked_RefusesAMissingDevice) {
    testsupport::TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::vector<uint8_t> tone = testsupport::SinePcm16(48000, 1, 48000, 1000.0, 12000.0);
    {
        std::ofstream raw(dir / "tone.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(tone.data()),
                  static_cast<std::streamsize>(tone.size()));
        std::ofstream rc(dir / ".asoundrc");
        rc << "pcm.tone { type file; slave.pcm \"null\"; file \"/dev/null\"; infile \""
           << dir.File("tone.raw") << "\"; format \"raw\"; hint.description \"Tone\" }\n";
    }
    ASSERT_EQ(setenv("HOME", dir.Path().c_str(), 1), 0);

    // The names offered to the operator: "default" first and once, a described PCM among them.
    const std::vector<std::string> names = platform::CaptureDeviceNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "default");
    EXPECT_EQ(std::count(names.begin(), names.end(), "default"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "tone"), 1);

    platform::AlsaCapture missing;
    EXPECT_FALSE(missing.Open("nosuchdevice", 20000));
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_NE(missing.Reason().find("\"nosuchdevice\""), std::string::npos) << missing.Reason();

    platform::AlsaCapture capture;
    ASSERT_TRUE(capture.Open("tone", 20000)) << capture.Reason();
    EXPECT_EQ(capture.Rate(), 48000u);
    EXPECT_EQ(capture.Channels(), 1u);
    // No longer than the packet time: a block never waits longer than a packet.
    EXPECT_GT(capture.PeriodFrames(), 0u);
    EXPECT_LE(capture.PeriodFrames(), 960u);

    std::vector<int16_t> block(capture.PeriodFrames() * capture.Channels());
    std::vector<int16_t> got;
    int64_t lastNs = 0;
    while (got.size() < 4800) {
        size_t frames = 0;
        int64_t captureNs = 0;
        ASSERT_EQ(capture.Read(block.data(), frames, captureNs),
                  platform::AlsaCapture::ReadResult::kBlock)
            << capture.Reason();
        ASSERT_GT(frames, 0u);
        EXPECT_LE(captureNs, platform::MonotonicNowNs());
        EXPECT_GE(captureNs, lastNs);
        lastNs = captureNs;
        got.insert(got.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(frames));
    }
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], static_cast<int16_t>(testsupport::GetU16(tone, i * 2))) << "sample " << i;
    }
    capture.Close();
    size_t frames = 0;
    int64_t ns = 0;
    EXPECT_EQ(capture.Read(block.data(), frames, ns), platform::AlsaCapture::ReadResult::kEnded);
}

}  // namespace
