#include "engine/streamingworker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <thread>
#include <utility>

#include "enginetestsupport.h"

namespace {

using Message = std::pair<uintptr_t, intptr_t>;

// Records the reports and reacts as the view does: a marked code 0 and code 3 clear the
// streaming flag.
class RecordingPoster : public StatusPoster {
public:
    explicit RecordingPoster(StreamingShared& shared) : m_shared(shared) {}
    void PostStatus(uintptr_t wParam, intptr_t lParam) override {
        if ((wParam == kFileStarted && (lParam & ~intptr_t{0xFFFF}) != 0) ||
            wParam == kStreamingEnded) {
            if (m_clearOnFailure || wParam == kStreamingEnded) {
                m_shared.m_bStreaming.store(false, std::memory_order_release);
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.emplace_back(wParam, lParam);
        m_cv.notify_all();
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    // Waits until `count` messages equal to `wanted` have arrived.
    bool WaitFor(Message wanted, int count = 1, int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            int seen = 0;
            for (const Message& m : m_messages) {
                seen += m == wanted ? 1 : 0;
            }
            return seen >= count;
        });
    }
    void SetClearOnFailure(bool clear) { m_clearOnFailure = clear; }

private:
    StreamingShared& m_shared;
    bool m_clearOnFailure = true;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Message> m_messages;
};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (engine.Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        shared.playlist = &playlist;
        shared.engine = &engine;
        shared.poster = &poster;
        for (auto& r : receivers) {
            r = std::make_unique<RtpReceiver>();
            playlist.AppendDestination(r->Destination());
        }
    }
    void TearDown() override { Stop(); }

    void Start(bool loop) {
        shared.m_bLoopMode.store(loop, std::memory_order_release);
        shared.m_bStreaming.store(true, std::memory_order_release);
        worker = std::thread([this] { StreamingWorker(shared); });
    }
    void Stop() {
        shared.m_bStreaming.store(false, std::memory_order_release);
        if (worker.joinable()) {
            worker.join();
        }
    }
    void Join() { worker.join(); }
    PlaylistFile Entry(const std::string& path, int format, int ms) {
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(engine, path, format, ms, entry)) << path;
        return entry;
    }

    TempDir dir;
    WinSonvex engine;
    Playlist playlist;
    StreamingShared shared;
    RecordingPoster poster{shared};
    std::unique_ptr<RtpReceiver> receivers[2];
    std::thread worker;
};

// Sequence numbers run on by one, timestamps by the payload bytes, the marker only on the
// sender's very first packet.
void ExpectContinuousStream(const std::vector<RtpPacket>& packets, uint32_t ssrc) {
    for (size_t k = 0; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(packets[k].ssrc, ssrc);
        EXPECT_EQ(packets[k].marker, k == 0);
        if (k > 0) {
            EXPECT_EQ(packets[k].sequence, static_cast<uint16_t>(packets[k - 1].sequence + 1));
            EXPECT_EQ(packets[k].timestamp,
                      packets[k - 1].timestamp + packets[k - 1].payload.size());
        }
    }
}

}  // namespace

TEST_F(WorkerTest, PlaysEveryKindOfSourceOnceAndReportsEachStep) {
    const std::string stereo = dir.File("stereo.wav");
    const std::string mulaw = dir.File("mulaw.wav");
    const std::string adpcm = dir.File("adpcm.wav");
    ASSERT_TRUE(WritePcmWav(stereo, 44100, 2, 1.0, 1020, 16384));
    ASSERT_TRUE(WriteMulawWav(mulaw, 8000, 1.0, 1020, 16384));
    const bool haveAdpcm = WriteImaAdpcmWav(adpcm, 1.0);
    playlist.AppendFile(Entry(stereo, WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_ALAW, 40));
    if (haveAdpcm) {
        playlist.AppendFile(Entry(adpcm, WAVE_FORMAT_MULAW, 20));
    }
    const std::string mp3 = dir.File("tone.mp3");
    ASSERT_TRUE(WriteMp3(mp3, 2.0)) << "lame is needed";
    playlist.AppendFile(Entry(mp3, WAVE_FORMAT_MULAW, 80));
    const intptr_t mp3Index = haveAdpcm ? 3 : 2;

    Start(false);
    Join();

    // Per file: 0, one 1 per second, 2 with the duration; then the next file; finally 3.
    std::vector<Message> expected = {{0, 0}, {1, 0}, {2, 1}, {0, 1}, {1, 1}, {2, 1}};
    if (haveAdpcm) {
        // 4 kB of ADPCM is less than its 43008-byte chunk, and streams whole all the same.
        expected.insert(expected.end(), {{0, 2}, {1, 2}, {2, 1}});
    }
    expected.push_back({0, mp3Index});
    auto messages = poster.Messages();
    ASSERT_GT(messages.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<Message>(messages.begin(),
                                   messages.begin() + static_cast<long>(expected.size())),
              expected);
    // The MP3 (2 s and its encoder's delay, untagged) in 80 ms packets: two reports of 13
    // ticks.
    const size_t seconds = messages.size() - expected.size() - 2;
    EXPECT_EQ(seconds, 2u);
    for (size_t i = expected.size(); i < messages.size() - 2; ++i) {
        EXPECT_EQ(messages[i], Message(1, mp3Index));
    }
    EXPECT_EQ(messages[messages.size() - 2], Message(2, 2));
    EXPECT_EQ(messages.back(), Message(3, 0));

    const auto first = receivers[0]->TakeAll();
    const auto second = receivers[1]->TakeAll();
    // 44100 Hz stereo: 8000 samples and the rate converter's tail in packets of 160;
    // mu-law: 8000 samples in packets of 320; sox's ADPCM 8080 samples; the MP3 about 2.1 s
    // of 80 ms packets. Nothing is held back.
    const size_t stereoPackets = 51;
    const size_t mulawEnd = stereoPackets + 25;
    const size_t adpcmEnd = mulawEnd + (haveAdpcm ? 51 : 0);
    ASSERT_GE(first.size(), adpcmEnd + 26);
    ASSERT_LE(first.size(), adpcmEnd + 28);
    for (size_t k = 0; k < first.size(); ++k) {
        const bool alaw = k >= stereoPackets && k < mulawEnd;
        EXPECT_EQ(first[k].payloadType, alaw ? 8 : 0) << k;
        EXPECT_EQ(first[k].payload.size(), alaw ? 320u : k < adpcmEnd ? 160u : 640u) << k;
    }
    ExpectContinuousStream(first, 25);
    ASSERT_EQ(second.size(), first.size());
    ExpectContinuousStream(second, 36);
    for (size_t k = 0; k < first.size(); ++k) {
        EXPECT_EQ(first[k].payload, second[k].payload);
    }

    // A second run on the same engine carries on the counters, without a marker.
    playlist.Files.resize(1);
    Start(false);
    Join();
    const auto again = receivers[0]->TakeAll();
    ASSERT_EQ(again.size(), stereoPackets);
    EXPECT_FALSE(again.front().marker);
    EXPECT_EQ(again.front().sequence, static_cast<uint16_t>(first.back().sequence + 1));
    EXPECT_EQ(again.front().timestamp, first.back().timestamp + first.back().payload.size());
}

TEST_F(WorkerTest, InvalidOrUnopenableEntriesGiveTheMarkedReport) {
    const std::string mulaw = dir.File("mulaw.wav");
    ASSERT_TRUE(WriteMulawWav(mulaw, 8000, 1.0, 1020, 16384));
    PlaylistFile invalid = Entry(mulaw, WAVE_FORMAT_MULAW, 20);
    invalid.Valid = 0;
    PlaylistFile missing = Entry(mulaw, WAVE_FORMAT_MULAW, 20);
    missing.Source.SetPath(dir.File("gone.wav").c_str());
    playlist.AppendFile(invalid);
    playlist.AppendFile(missing);
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));

    poster.SetClearOnFailure(false);  // a view slow to react: the pass goes on
    Start(false);
    Join();
    const std::vector<Message> expected = {
        {0, 0 | kOpenFailureMark}, {0, 1 | kOpenFailureMark}, {0, 2}, {1, 2}, {2, 1}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_EQ(receivers[0]->TakeAll().size(), 50u);
}

TEST_F(WorkerTest, ViewClearingTheFlagOnFailureEndsTheRun) {
    const std::string mulaw = dir.File("mulaw.wav");
    ASSERT_TRUE(WriteMulawWav(mulaw, 8000, 1.0, 1020, 16384));
    PlaylistFile invalid = Entry(mulaw, WAVE_FORMAT_MULAW, 20);
    invalid.Valid = 0;
    playlist.AppendFile(invalid);
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));
    Start(true);
    Join();
    const std::vector<Message> expected = {{0, kOpenFailureMark}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_TRUE(receivers[0]->TakeAll().empty());
}

// With loop mode on and a view that never clears the flag, a pass that opens nothing must
// not spin: only a few passes fit in 600 ms.
TEST_F(WorkerTest, FailingPassesDoNotSpin) {
    PlaylistFile invalid;
    invalid.Valid = 0;
    playlist.AppendFile(invalid);
    playlist.AppendFile(invalid);
    poster.SetClearOnFailure(false);
    Start(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    Stop();
    const auto messages = poster.Messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_LE(messages.size(), 2u * 4u + 1u);
    EXPECT_EQ(messages.back(), Message(3, 0));
}

TEST_F(WorkerTest, StopMidFileFinishesItAndEnds) {
    const std::string mulaw = dir.File("mulaw.wav");
    ASSERT_TRUE(WriteMulawWav(mulaw, 8000, 3.0, 1020, 16384));
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));
    Start(true);
    ASSERT_TRUE(poster.WaitFor({1, 0}));
    Stop();
    const std::vector<Message> expected = {{0, 0}, {1, 0}, {2, 3}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    const size_t sent = receivers[0]->TakeAll().size();
    EXPECT_GE(sent, 50u);
    EXPECT_LE(sent, 56u);
}

TEST_F(WorkerTest, LoopModeStartsOverAtTheFirstEntry) {
    const std::string mulaw = dir.File("mulaw.wav");
    ASSERT_TRUE(WriteMulawWav(mulaw, 8000, 1.0, 1020, 16384));
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 40));
    Start(true);
    ASSERT_TRUE(poster.WaitFor({1, 0}, 2));  // the second pass has sent its packets
    Stop();
    const auto messages = poster.Messages();
    const std::vector<Message> pass = {{0, 0}, {1, 0}, {2, 1}};
    ASSERT_GE(messages.size(), 7u);
    EXPECT_EQ(std::vector<Message>(messages.begin(), messages.begin() + 3), pass);
    EXPECT_EQ(messages[3], Message(0, 0));
    EXPECT_EQ(messages.back(), Message(3, 0));
    const auto packets = receivers[0]->TakeAll();
    // Two passes of 25; a third pass may have begun before the Stop was seen.
    ASSERT_GE(packets.size(), 50u);
    ASSERT_LE(packets.size(), 51u);
    ExpectContinuousStream(packets, 25);
}
