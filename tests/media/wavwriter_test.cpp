#include <gtest/gtest.h>

#include <tuple>

#include "codec/waveformat.h"
#include "media/audiosourcefile.h"
#include "mediatestfiles.h"

namespace {

using namespace mediatest;

struct WriterCase {
    uint16_t tag, channels;
    uint32_t rate;
    uint16_t bits, blockAlign;
    uint32_t avgBytes;
    size_t headerBytes;
};

class WavWriterTest : public TempDirTest, public ::testing::WithParamInterface<WriterCase> {
protected:
    static WAVEFORMATEX Proposed(uint16_t tag, uint16_t channels, uint32_t rate) {
        WAVEFORMATEX wfx{};
        wfx.wFormatTag = tag;
        wfx.nChannels = channels;
        wfx.nSamplesPerSec = rate;
        wfx.nAvgBytesPerSec = 12345;  // overwritten by Create
        return wfx;
    }
};

TEST_P(WavWriterTest, HeaderIsCompletedAndSizesFilledOnClose) {
    const WriterCase& c = GetParam();
    WAVEFORMATEX wfx = Proposed(c.tag, c.channels, c.rate);
    uint8_t block[18];
    WriteWaveFormat(wfx, block);
    const std::string path = (m_dir / "out.wav").string();
    AudioSourceFile file;
    ASSERT_TRUE(file.Create(path.c_str(), block));
    ReadWaveFormat(block, sizeof block, wfx);
    EXPECT_EQ(std::tie(wfx.wBitsPerSample, wfx.nBlockAlign, wfx.nAvgBytesPerSec, wfx.cbSize),
              std::make_tuple(c.bits, c.blockAlign, c.avgBytes, uint16_t{0}));

    // Until Close nothing stands under the name; the file beside it has zero sizes.
    EXPECT_FALSE(fs::exists(path));
    ASSERT_EQ(std::distance(fs::directory_iterator(m_dir), {}), 1);
    Bytes disk = ReadAll(fs::directory_iterator(m_dir)->path());
    ASSERT_EQ(disk.size(), c.headerBytes);
    EXPECT_EQ(GetU32(disk, 4), 0u);
    EXPECT_EQ(GetU32(disk, c.headerBytes - 4), 0u);

    const Bytes audio(1001, 0x55);
    EXPECT_EQ(file.Write(audio.data(), 600), 600);
    EXPECT_EQ(file.Write(audio.data() + 600, 401), 401);
    file.Close();
    file.Close();

    disk = ReadAll(path);
    ASSERT_EQ(disk.size(), c.headerBytes + 1001);
    EXPECT_EQ(Bytes(disk.begin(), disk.begin() + 4), (Bytes{'R', 'I', 'F', 'F'}));
    EXPECT_EQ(GetU32(disk, 4), disk.size() - 8);
    EXPECT_EQ(Bytes(disk.begin() + 8, disk.begin() + 16),
              (Bytes{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}));
    EXPECT_EQ(GetU32(disk, 16), 18u);
    EXPECT_EQ(Bytes(disk.begin() + 20, disk.begin() + 38), Bytes(block, block + 18));
    if (c.tag != WAVE_FORMAT_PCM) {
        EXPECT_EQ(Bytes(disk.begin() + 38, disk.begin() + 50),
                  (Bytes{'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0}));
    }
    const size_t dataHeader = c.headerBytes - 8;
    EXPECT_EQ(Bytes(disk.begin() + dataHeader, disk.begin() + dataHeader + 4),
              (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_EQ(GetU32(disk, dataHeader + 4), 1001u);
    EXPECT_EQ(disk[c.headerBytes], 0x55);

    // The written file opens as a source with the same format.
    SourceFormatInfo info;
    std::string text;
    ASSERT_TRUE(file.Open(path.c_str(), info, text));
    EXPECT_EQ(info.formatSize, 18);
    EXPECT_EQ(Bytes(info.format.get(), info.format.get() + 18), Bytes(block, block + 18));
    file.Close();
}

INSTANTIATE_TEST_SUITE_P(Formats, WavWriterTest,
                         ::testing::Values(WriterCase{7, 1, 8000, 8, 1, 8000, 58},
                                           WriterCase{1, 2, 44100, 16, 4, 176400, 46},
                                           WriterCase{0x83, 1, 8000, 1, 10, 1000, 58}));

TEST_F(WavWriterTest, RefusalsAndUnfinishedObjects) {
    uint8_t block[18];
    WriteWaveFormat(Proposed(7, 1, 8000), block);
    AudioSourceFile file;
    EXPECT_EQ(file.Write(block, 4), 0);  // not open

    // An .mp3 name is refused before anything is made.
    const auto mp3 = m_dir / "out.mp3";
    EXPECT_FALSE(file.Create(mp3.c_str(), block));
    EXPECT_FALSE(fs::exists(mp3));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Create((m_dir / "no" / "such.wav").c_str(), block));

    // Neither Create nor Open on an open writer disturbs it: the header is still completed.
    // A writer destroyed (or abandoned) before Close leaves nothing under the name.
    const auto path = m_dir / "out.wav";
    for (const bool close : {false, true}) {
        AudioSourceFile writer;
        ASSERT_TRUE(writer.Create(path.c_str(), block));
        EXPECT_FALSE(writer.Create((m_dir / "other.wav").c_str(), block));
        SourceFormatInfo info;
        std::string text;
        EXPECT_FALSE(writer.Open(Fixture("tone_8k_mono_8.mp3").c_str(), info, text));
        EXPECT_EQ(writer.Write("abcd", 4), 4);
        EXPECT_FALSE(fs::exists(path));
        if (close) {
            EXPECT_TRUE(writer.Close());
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), {}), 1);
    const Bytes disk = ReadAll(path);
    ASSERT_EQ(disk.size(), 62u);
    EXPECT_EQ(GetU32(disk, 4), 54u);
    EXPECT_EQ(GetU32(disk, 54), 4u);
}

}  // namespace
