#include "media/mediadescription.h"

#include <gtest/gtest.h>

#include "media/audiosourcefile.h"
#include "media/formattagcatalog.h"
#include "media/mp3framescanner.h"
#include "mediatestfiles.h"

namespace {

using namespace mediatest;

WAVEFORMATEX Format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = tag;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.nAvgBytesPerSec = avg;
    return wfx;
}

TEST(MediaDescription, WaveTextItemByItem) {
    std::string text = "old";
    const WAVEFORMATEX pcm = Format(1, 2, 44100, 176400);
    BuildWaveDescription(text, 1764044, pcm, 10, "PCM", 48);
    EXPECT_EQ(
        text,
        "RIFF WAVE format\r\n\r\nPCM\r\n\r\nSize (in bytes) : 1764044\r\n\r\nBitrate (kbps) : "
        "1411\r\n\r\nFrequency (Hz) : 44100\r\n\r\nStereo\r\n\r\nLength (in sec) : 10");
    BuildWaveDescription(text, 8058, Format(7, 1, 8000, 8000), 1, nullptr, 0);
    EXPECT_EQ(text,
              "RIFF WAVE format\r\n\r\nSize (in bytes) : 8058\r\n\r\nBitrate (kbps) : 64\r\n\r\n"
              "Frequency (Hz) : 8000\r\n\r\nMono\r\n\r\nLength (in sec) : 1");
    // A name filling its field without a terminator is cut at the field's end.
    const char full[4] = {'A', 'B', 'C', 'D'};
    BuildWaveDescription(text, 0, Format(1, 6, 48000, 576000), 0, full, 4);
    EXPECT_EQ(text.substr(0, 24), "RIFF WAVE format\r\n\r\nABCD");
    EXPECT_NE(text.find("\r\n\r\n6 channels\r\n\r\n"), std::string::npos);
}

TEST(MediaDescription, Mp3TextItemByItem) {
    Mp3FrameInfo info;
    info.version = 1;
    info.layer = 3;
    info.channels = 2;
    info.bitrateKbps = 128;
    info.sampleRate = 44100;
    info.durationSeconds = 244;
    info.firstFrameOffset = 4096;
    std::string text = "old";
    BuildMp3Description(text, 4000000, info);
    EXPECT_EQ(text,
              "Size (in bytes) : 4000000\r\n\r\nFirst frame at byte: 4096\r\n\r\nMPEG 1 Layer "
              "III\r\n\r\nBitrate (kbps) : 128\r\n\r\nFrequency (Hz) : 44100\r\n\r\nStereo\r\n\r\n"
              "Length (in sec) : 244");
}

class MediaDescriptionFileTest : public TempDirTest {};

// Opening a file produces the text; the name item follows whatever the catalogue reports.
TEST_F(MediaDescriptionFileTest, OpenDescribesWaveWithCatalogueName) {
    const Bytes bytes =
        Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16, 176400)), Chunk("data", Bytes(1764000, 0))});
    AudioSourceFile file;
    SourceFormatInfo info;
    std::string text;
    ASSERT_TRUE(file.Open(Write("a.wav", bytes).c_str(), info, text));
    file.Close();
    std::string name;
    ACMFORMATTAGDETAILSA details{};
    if (FormatTagCatalog().FindTag(1, details)) {
        name = std::string("\r\n\r\n") + details.szFormatTag;
    }
    EXPECT_EQ(text, "RIFF WAVE format" + name +
                        "\r\n\r\nSize (in bytes) : 1764044\r\n\r\nBitrate (kbps) : 1411\r\n\r\n"
                        "Frequency (Hz) : 44100\r\n\r\nStereo\r\n\r\nLength (in sec) : 10");
}

}  // namespace
