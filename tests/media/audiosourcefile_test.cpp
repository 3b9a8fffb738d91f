#include "media/audiosourcefile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "codec/waveformat.h"
#include "mediatestfiles.h"
#include "platform/bytesource.h"

namespace {

using namespace mediatest;

TEST(AudioSourceFileType, Mp3ExtensionInAnyCaseIsMp3) {
    for (const char* path : {"/music/a.mp3", "/music/a.b.mp3", "LOUD.MP3", "a.Mp3"}) {
        EXPECT_EQ(AudioSourceFile::TypeFromExtension(path), MediaType::Mp3) << path;
    }
    for (const char* path : {"a.wav", "a", "/music.mp3/a", "a.mp3.bak", "a.mp4", "a.np3"}) {
        EXPECT_EQ(AudioSourceFile::TypeFromExtension(path), MediaType::Wave) << path;
    }
}

class AudioSourceFileTest : public TempDirTest {
protected:
    // Opens a file; on failure checks that the record, the text and the object are as before.
    bool Open(const std::string& path) {
        m_info = SourceFormatInfo{};
        m_info.chunkBytes = -7;
        m_description = "before";
        const bool ok = m_file.Open(path.c_str(), m_info, m_description);
        EXPECT_EQ(m_file.IsOpen(), ok);
        if (!ok) {
            EXPECT_EQ(m_info.chunkBytes, -7);
            EXPECT_EQ(m_info.formatSize, 0);
            EXPECT_EQ(m_description, "before");
            EXPECT_EQ(m_file.Type(), MediaType::None);
        }
        return ok;
    }
    void TearDown() override {
        m_file.Close();
        TempDirTest::TearDown();
    }
    AudioSourceFile m_file;
    SourceFormatInfo m_info;
    std::string m_description;
};

struct ChunkCase {
    uint16_t tag, channels;
    uint32_t rate;
    uint16_t bits;
    uint16_t blockAlign;  // 0: channels x bits / 8
    uint32_t avg;         // 0: rate x channels x bits / 8 (4 bits when there are none)
    int32_t chunkBytes;
};

class WaveChunkBytesTest : public AudioSourceFileTest,
                           public ::testing::WithParamInterface<ChunkCase> {};

// One second of samples; an ADPCM block of 43008 bytes; for coded formats without a sample
// size (GSM 6.10, MPEG audio in WAV) the whole blocks nearest to one second.
TEST_P(WaveChunkBytesTest, OneSecondOrAdpcmBlockOrWholeBlocks) {
    const ChunkCase& c = GetParam();
    const uint32_t avg = c.avg != 0 ? c.avg : c.rate * c.channels * (c.bits ? c.bits : 4) / 8;
    Bytes fmt = FmtBody(c.tag, c.channels, c.rate, c.bits, avg, c.tag != 1);
    if (c.blockAlign != 0) {
        fmt[12] = static_cast<uint8_t>(c.blockAlign & 0xFF);
        fmt[13] = static_cast<uint8_t>(c.blockAlign >> 8);
    }
    const Bytes body(3 * avg + 5, 0x11);
    ASSERT_TRUE(Open(Write("a.wav", Riff({Chunk("fmt ", fmt), Chunk("data", body)}))));
    EXPECT_EQ(m_info.chunkBytes, c.chunkBytes);
    // 3 s and 5 bytes, rounded: 3 s, or 4 where 5 bytes are half a second or more.
    EXPECT_EQ(m_info.durationSeconds, (3 * avg + 5 + avg / 2) / avg);
    EXPECT_EQ(m_info.formatSize, c.tag == 1 ? 16 : 18);
}

INSTANTIATE_TEST_SUITE_P(Formats, WaveChunkBytesTest,
                         ::testing::Values(ChunkCase{1, 2, 44100, 16, 0, 0, 176400},
                                           ChunkCase{7, 1, 8000, 8, 0, 0, 8000},
                                           ChunkCase{17, 1, 8000, 4, 0, 0, 43008},
                                           ChunkCase{17, 2, 44100, 4, 0, 0, 43008},
                                           ChunkCase{2, 1, 22050, 4, 0, 0, 43008},
                                           ChunkCase{49, 1, 8000, 0, 65, 1625, 1625},
                                           ChunkCase{85, 2, 44100, 0, 1152, 16000, 16128},
                                           ChunkCase{85, 1, 8000, 0, 1, 1000, 1000},
                                           ChunkCase{49, 1, 8000, 0, 65, 10, 65}));

TEST_F(AudioSourceFileTest, ChunkWalkRulesAndAudioBounds) {
    const Bytes fmt = Chunk("fmt ", FmtBody(1, 1, 8000, 8, 8000));
    const Bytes audio(16000, 0x80);
    const Bytes list = Chunk("LIST", Bytes{'I', 'N', 'F', 'O'});

    // A chunk after the data is audio; the first Read starts at the first audio byte.
    ASSERT_TRUE(Open(Write("list_after.wav", Riff({fmt, Chunk("data", audio), list}))));
    EXPECT_EQ(m_info.formatSize, 16);
    EXPECT_EQ(m_info.durationSeconds, 2);
    Bytes got(20000);
    EXPECT_EQ(m_file.Read(got.data(), 20000), 16012);
    EXPECT_EQ(got[0], 0x80);
    EXPECT_EQ(std::memcmp(&got[16000], list.data(), list.size()), 0);
    EXPECT_EQ(m_file.Read(got.data(), 10, 44 + 16000), 10);  // absolute offset
    EXPECT_EQ(got[0], 'L');
    m_file.Close();

    // Declared data one byte too long fails; shorter than what follows is fine and the
    // duration counts what actually follows.
    EXPECT_FALSE(Open(Write("long.wav", Riff({fmt, Chunk("data", audio, 16001)}))));
    ASSERT_TRUE(Open(Write("short.wav", Riff({fmt, Chunk("data", audio, 100)}))));
    EXPECT_EQ(m_info.durationSeconds, 2);
    m_file.Close();

    // A "fact" chunk is accepted; no average rate gives length 0, not a crash.
    const Bytes fact = Chunk("fact", Bytes{1, 0, 0, 0});
    ASSERT_TRUE(Open(Write("fact.wav", Riff({fmt, fact, Chunk("data", audio)}))));
    m_file.Close();
    ASSERT_TRUE(Open(Write(
        "noavg.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 8, 0)), Chunk("data", audio)}))));
    EXPECT_EQ(m_info.durationSeconds, 0);
}

// Any chunk but "fmt ", "fact" and "data" ahead of the audio is passed over with its pad
// byte: the file opens as if it were absent, and only the size in the description counts it.
// One whose size runs past the end of the file is refused.
TEST_F(AudioSourceFileTest, OtherChunksBeforeTheAudioAreSkipped) {
    const Bytes fmt = Chunk("fmt ", FmtBody(1, 1, 8000, 16, 16000));
    Bytes audio(48000);
    for (size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<uint8_t>(i * 7);
    }
    const Bytes data = Chunk("data", audio);
    const Bytes plainFile = Riff({fmt, data});
    ASSERT_TRUE(Open(Write("plain.wav", plainFile)));
    const SourceFormatInfo plain = m_info;
    const std::string plainText = m_description;
    m_file.Close();
    // The description with another file size.
    auto sized = [&](size_t bytes) {
        std::string text = plainText;
        const std::string size = std::to_string(plainFile.size());
        return text.replace(text.find(size), size.size(), std::to_string(bytes));
    };
    m_file.Close();

    // Odd sizes carry the pad byte RIFF puts after them.
    auto padded = [](const char* id, size_t bytes) {
        Bytes chunk = Chunk(id, Bytes(bytes, 'z'));
        if (bytes % 2 != 0) {
            chunk.push_back(0);
        }
        return chunk;
    };
    const std::pair<const char*, size_t> others[] = {{"LIST", 26}, {"JUNK", 7},   {"bext", 602},
                                                     {"PEAK", 24}, {"cue ", 25},  {"smpl", 60},
                                                     {"iXML", 3},  {"\x01q?Z", 1}};
    Bytes all;
    for (const auto& [id, bytes] : others) {
        Append(all, padded(id, bytes));
    }
    std::vector<std::pair<std::string, Bytes>> files = {
        {"all ahead of fmt", Riff({all, fmt, data})}};
    for (const auto& [id, bytes] : others) {
        files.emplace_back(id, Riff({fmt, padded(id, bytes), data}));
    }
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Open(Write("chunks.wav", bytes))) << m_file.RefusalReason();
        EXPECT_EQ(m_info.durationSeconds, plain.durationSeconds);
        EXPECT_EQ(m_info.chunkBytes, plain.chunkBytes);
        ASSERT_EQ(m_info.formatSize, plain.formatSize);
        EXPECT_EQ(std::memcmp(m_info.format.get(), plain.format.get(), 16), 0);
        EXPECT_EQ(m_description, sized(bytes.size()));
        Bytes first(4);
        EXPECT_EQ(m_file.Read(first.data(), 4), 4);
        EXPECT_EQ(first, Bytes(audio.begin(), audio.begin() + 4));
        m_file.Close();
    }

    // A chunk claiming more bytes than the file holds (by one, or by far) is refused.
    const uint32_t rest = static_cast<uint32_t>(10 + data.size());
    for (uint32_t declared : {rest + 1, 0x7FFFFFF0u}) {
        EXPECT_FALSE(
            Open(Write("past.wav", Riff({fmt, Chunk("LIST", Bytes(10, 0), declared), data}))));
        EXPECT_NE(m_file.RefusalReason().find("LIST chunk of " + std::to_string(declared) +
                                              " bytes runs past the end of the file"),
                  std::string::npos);
    }

    // What a common tool writes by default: a LIST chunk between "fmt " and "data".
    const std::string made = (m_dir / "tool.wav").string();
    if (std::system(("ffmpeg -nostdin -v error -y -i '" + Fixture("tone_8k_mono_8.mp3").string() +
                     "' '" + made + "'")
                        .c_str()) != 0) {
        GTEST_SKIP() << "ffmpeg could not make its WAV file";
    }
    const Bytes tool = ReadAll(made);
    ASSERT_GT(tool.size(), 44u);
    ASSERT_EQ(std::string(tool.begin() + 36, tool.begin() + 40), "LIST");
    ASSERT_TRUE(Open(made)) << m_file.RefusalReason();
    EXPECT_EQ(m_info.durationSeconds, 8);
}

// A RIFF WAVE file is read as WAV whatever its name; it never meets the frame scanner. MPEG
// audio still needs a ".mp3" name, from a file or from memory.
TEST_F(AudioSourceFileTest, ContentDecidesOverName) {
    Bytes audio(64000);
    for (size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<uint8_t>(i % 2 == 0 ? 0xFF : 0xFB);  // frame syncs throughout
    }
    const Bytes wav = Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16, 32000)), Chunk("data", audio)});
    ASSERT_TRUE(Open(Write("a.wav", wav)));
    const SourceFormatInfo expected = m_info;
    m_file.Close();
    for (const char* name : {"UP.MP3", "up.mp3", "Up.Mp3"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Open(Write(name, wav)));
        EXPECT_EQ(m_file.Type(), MediaType::Wave);
        EXPECT_EQ(m_info.formatSize, 16);
        EXPECT_EQ(std::memcmp(m_info.format.get(), expected.format.get(), 16), 0);
        EXPECT_EQ(m_info.durationSeconds, 2);
        m_file.Close();
        m_info = SourceFormatInfo{};
        ASSERT_TRUE(
            m_file.Open(std::make_unique<platform::MemoryByteSource>(wav.data(), wav.size()), name,
                        m_info, m_description));
        EXPECT_EQ(m_file.Type(), MediaType::Wave);
        EXPECT_EQ(m_info.chunkBytes, expected.chunkBytes);
        m_file.Close();
    }
    const Bytes mpeg = ReadAll(Fixture("tone_44k_js_128.mp3"));
    ASSERT_TRUE(m_file.Open(std::make_unique<platform::MemoryByteSource>(mpeg.data(), mpeg.size()),
                            "t.mp3", m_info, m_description));
    EXPECT_EQ(m_file.Type(), MediaType::Mp3);
    m_file.Close();
    EXPECT_FALSE(m_file.Open(std::make_unique<platform::MemoryByteSource>(mpeg.data(), mpeg.size()),
                             "t.wav", m_info, m_description));
}

TEST_F(AudioSourceFileTest, RefusesBadInputCleanly) {
    const Bytes fmt = Chunk("fmt ", FmtBody(1, 1, 8000, 8, 8000));
    const Bytes data = Chunk("data", Bytes(100, 0));
    const Bytes good = Riff({fmt, data});
    auto with = [&](size_t at, const Bytes& patch) {
        Bytes b = good;
        std::copy(patch.begin(), patch.end(), b.begin() + at);
        return b;
    };
    Bytes truncatedFmt = Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 8, 8000), 40)});
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"short header", Bytes(good.begin(), good.begin() + 11)},
        {"not RIFF", with(0, {'R', 'I', 'F', 'X'})},
        {"not WAVE", with(8, {'A', 'V', 'I', ' '})},
        {"no data chunk", Riff({fmt})},
        {"data before fmt", Riff({data, fmt})},
        {"truncated fmt body", truncatedFmt},
        {"truncated chunk header", Bytes(good.begin(), good.begin() + 40)},
        {"fmt too short", Riff({Chunk("fmt ", Bytes(8, 1)), data})},
        {"absurd fmt size", with(16, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"absurd fact size", Riff({fmt, Chunk("fact", {}, 0x7FFFFFF0), data})},
        {"no channels", Riff({Chunk("fmt ", FmtBody(1, 0, 8000, 8, 8000)), data})},
        {"no sample rate", Riff({Chunk("fmt ", FmtBody(1, 1, 0, 8, 8000)), data})},
        {"no sample size, no block",
         Riff({Chunk("fmt ", FmtBody(85, 2, 44100, 0, 16000, true)), data})},
        {"absurd step", Riff({Chunk("fmt ", FmtBody(1, 64, 4000000, 32, 1)), data})},
        // 0x8010 bits x 0xFFFF channels overflows a signed product: refused, not wrapped.
        {"overflowing step",
         Riff({Chunk("fmt ", FmtBody(1, 0xFFFF, 0xFFFFFFFF, 0x8010, 1)), data})},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Open(Write("bad.wav", bytes)));
    }
    // 2 GiB and more cannot be measured in 32 bits: refused (a sparse file, no disk used).
    for (const char* name : {"huge.wav", "huge.mp3"}) {
        const std::string path = Write(name, Riff({fmt, data}));
        fs::resize_file(path, uint64_t{1} << 31);
        EXPECT_FALSE(Open(path)) << name;
    }
    EXPECT_FALSE(Open((m_dir / "missing.wav").string()));
    EXPECT_FALSE(Open(m_dir.string()));  // a directory

    // MPEG audio named .wav is read as WAV and refused; an upper-case .MP3 is MPEG audio.
    const Bytes mpeg = ReadAll(Fixture("tone_44k_js_128.mp3"));
    EXPECT_FALSE(Open(Write("a.wav", mpeg)));
    EXPECT_TRUE(Open(Write("LOUD.MP3", mpeg)));
    m_file.Close();
    EXPECT_FALSE(Open(Write("junk.mp3", Bytes(50000, 0xFF))));
}

// A FIFO named like a source is refused at once, without being opened: opening it would
// wait for a writer. A writer thread stands by to release an open that waits, and notes
// whether it was ever needed.
TEST_F(AudioSourceFileTest, FifoIsRefusedWithoutWaiting) {
    for (const char* name : {"pipe.wav", "pipe.mp3"}) {
        SCOPED_TRACE(name);
        const std::string path = (m_dir / name).string();
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        std::atomic<bool> refused{false};
        bool waitedOn = false;
        std::thread writer([&] {
            const int fd = ::open(path.c_str(), O_WRONLY);  // waits for a reader
            waitedOn = !refused.load();
            if (fd >= 0) {
                ::close(fd);
            }
        });
        EXPECT_FALSE(Open(path));
        refused.store(true);
        // Our own reader lets the writer finish in either case.
        const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        writer.join();
        ::close(reader);
        EXPECT_FALSE(waitedOn) << "Open waited for a writer";
    }
}

TEST_F(AudioSourceFileTest, Mp3SourceFormatAndFirstRead) {
    Bytes bytes(1000, 'x');  // leading bytes before the first frame
    Append(bytes, ReadAll(Fixture("tone_44k_js_128.mp3")));
    ASSERT_TRUE(Open(Write("tone.mp3", bytes)));
    EXPECT_EQ(m_file.Type(), MediaType::Mp3);
    EXPECT_EQ(m_info.chunkBytes, 522);
    ASSERT_EQ(m_info.formatSize, 30);
    const Bytes format(m_info.format.get(), m_info.format.get() + 30);
    const Bytes expected = {85, 0,  2, 0, 0x44, 0xAC, 0, 0, 0, 0x40, 0, 0, 1, 0,    0,
                            0,  12, 0, 1, 0,    2,    0, 0, 0, 0x0A, 2, 1, 0, 0x71, 0x05};
    EXPECT_EQ(format, expected);           // 44100 Hz, 16384 bytes/s, block 522, delay 1393
    EXPECT_EQ(m_info.durationSeconds, 3);  // the audio's bytes at 128 000 bit/s, rounded
    EXPECT_EQ(m_file.DurationSeconds(), m_info.durationSeconds);
    EXPECT_EQ(m_description.rfind("Size (in bytes) : ", 0), 0u);
    uint8_t first[4] = {};
    EXPECT_EQ(m_file.Read(first, 4), 4);
    EXPECT_EQ(Bytes(first, first + 4), Bytes(bytes.begin() + 1000, bytes.begin() + 1004));
}

// Reads of every size (smaller and larger than what is read ahead, across its refills) give
// the file's bytes in order; a read at an offset drops what was read ahead.
// A length is the audio's, rounded to the nearest second: from the frame count an
// encoder's Info header gives, else from the audio's bytes at the bit rate (1000 bits a
// kbit), tags left out; a WAV file's from its data. An 8.05 s file is 8 s, not 7.
TEST_F(AudioSourceFileTest, LengthsAreTheAudiosRoundedToTheNearestSecond) {
    const auto made = [this](const std::string& name, double seconds, const std::string& lame) {
        const std::string wav = (m_dir / (name + ".wav")).string();
        const std::string mp3 = (m_dir / (name + ".mp3")).string();
        const std::string command = "sox -n -r 44100 -c 1 -b 16 '" + wav + "' synth " +
                                    std::to_string(seconds) + " sine 440 vol 0.5 && lame --quiet " +
                                    lame + " '" + wav + "' '" + mp3 + "'";
        return std::system(command.c_str()) == 0 ? mp3 : std::string();
    };
    const struct {
        const char* name;
        double seconds;
        const char* lame;
        int32_t shown;
    } cases[] = {
        {"info", 8.05, "-b 128 --cbr", 8},  // with the encoder's Info header
        {"vbr", 8.6, "-V 4", 9},
        {"bare", 8.05, "-t -b 128 --cbr", 8},
        {"tagged", 8.05, "-t -b 64 --cbr --tt Chime --add-id3v2 --pad-id3v2-size 4096", 8},
        {"bare_up", 8.6, "-t -b 128 --cbr", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = made(c.name, c.seconds, c.lame);
        if (path.empty()) {
            GTEST_SKIP() << "sox or lame could not make the file";
        }
        ASSERT_TRUE(Open(path)) << m_file.RefusalReason();
        EXPECT_EQ(m_info.durationSeconds, c.shown);
        EXPECT_NE(m_description.find("Length (in sec) : " + std::to_string(c.shown)),
                  std::string::npos);
        m_file.Close();
    }
    const Bytes pcm(8000 * 2 * 26 / 10);  // 2.6 s of 8 kHz 16-bit mono
    ASSERT_TRUE(Open(Write(
        "short.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16, 16000)), Chunk("data", pcm)}))));
    EXPECT_EQ(m_info.durationSeconds, 3);
}

TEST_F(AudioSourceFileTest, ReadsOfAnySizeAndSeeksGiveTheFileInOrder) {
    Bytes audio(300000);
    for (size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    ASSERT_TRUE(Open(Write(
        "big.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16, 176400)), Chunk("data", audio)}))));
    Bytes got;
    for (int size : {522, 1, 70000, 522, 65535, 3, 65536, 522, 100000}) {
        Bytes piece(static_cast<size_t>(size));
        const int n = m_file.Read(piece.data(), size);
        ASSERT_GE(n, 0);
        got.insert(got.end(), piece.begin(), piece.begin() + n);
    }
    EXPECT_EQ(got, audio);
    Bytes piece(522);
    EXPECT_EQ(m_file.Read(piece.data(), 522), 0);  // the end
    for (long offset : {1000, 200000, 1000}) {
        EXPECT_EQ(m_file.Read(piece.data(), 522, 44 + offset), 522);
        EXPECT_EQ(piece, Bytes(audio.begin() + offset, audio.begin() + offset + 522));
        EXPECT_EQ(m_file.Read(piece.data(), 522), 522);  // on from there
        EXPECT_EQ(piece, Bytes(audio.begin() + offset + 522, audio.begin() + offset + 1044));
    }
}

TEST_F(AudioSourceFileTest, LifecycleOfOneObject) {
    uint8_t byte;
    EXPECT_EQ(m_file.Read(&byte, 1), 0);  // closed
    m_file.Close();
    m_file.Close();
    const std::string wav =
        Write("a.wav", Riff({Chunk("fmt ", FmtBody(7, 1, 8000, 8, 8000)), Chunk("data", {9})}));
    ASSERT_TRUE(Open(wav));
    // A second Open fails and leaves the open file readable where it was.
    SourceFormatInfo other;
    std::string text;
    EXPECT_FALSE(m_file.Open(Fixture("tone_8k_mono_8.mp3").c_str(), other, text));
    EXPECT_EQ(m_file.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 9);
    m_file.Close();
    EXPECT_EQ(m_file.Type(), MediaType::None);
    EXPECT_EQ(m_file.Read(&byte, 1), 0);
    ASSERT_TRUE(Open(Fixture("tone_8k_mono_8.mp3").string()));  // reopened after Close
    EXPECT_EQ(m_info.durationSeconds, 8);
}

}  // namespace
