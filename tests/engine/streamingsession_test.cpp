#include "engine/streamingsession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "engine/periodicticks.h"
#include "enginetestsupport.h"
#include "support/faketicksource.h"

namespace {

using testsupport::FakeTickSource;
using Message = std::pair<uintptr_t, intptr_t>;  // the wire form
constexpr int64_t kMs = FakeTickSource::kMs;

// Records the reports with the clock's time and reacts as the view does: a marked code 0
// and code 3 stop the run.
class RecordingPoster : public StatusPoster {
public:
    explicit RecordingPoster(TickSource& clock) : m_clock(clock) {}
    void PostStatus(const StreamingStatus& status) override {
        if ((status.openFailed && m_stopOnFailure) || status.code == kStreamingEnded) {
            m_session->Stop();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.emplace_back(status.WParam(), status.LParam());
        m_times.push_back(m_clock.NowNs());
        if (m_onReport) {
            m_onReport(status);
        }
    }
    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    std::vector<int64_t> Times() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_times;
    }

    StreamingSession* m_session = nullptr;
    bool m_stopOnFailure = true;
    std::function<void(const StreamingStatus&)> m_onReport;  // runs on the worker

private:
    TickSource& m_clock;
    std::mutex m_mutex;
    std::vector<Message> m_messages;
    std::vector<int64_t> m_times;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (engine.Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        poster.m_session = &session;
        session.SetTickSource(ticks);
        for (auto& r : receivers) {
            r = std::make_unique<RtpReceiver>();
            playlist.AppendDestination(r->Destination());
        }
    }

    // One run from Start to the worker's return.
    void Run(bool loop) {
        session.SetLoopMode(loop);
        ASSERT_TRUE(session.Start());
        session.Wait();
    }
    PlaylistFile Entry(const std::string& path, int format, int ms) {
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(engine, path, format, ms, entry)) << path;
        return entry;
    }
    std::string Mulaw(const std::string& name, double seconds) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteMulawWav(path, 8000, seconds, 1020, 16384));
        return path;
    }

    TempDir dir;
    WinSonvex engine;
    Playlist playlist;
    FakeTickSource ticks;
    RecordingPoster poster{ticks};
    StreamingSession session{playlist, engine, poster};
    std::unique_ptr<RtpReceiver> receivers[2];
};

// Sequence numbers run on by one, the marker only on the sender's very first packet, and
// the timestamp follows the tick clock at 8 kHz (RFC 3550 5.1): with the packets' deadlines
// given, by the time between them; without, by the payload within an entry and, where the
// packet size changes (a new entry), also by the tick that found the old entry's end and
// the new entry's first period, which passed without a packet.
void ExpectContinuousStream(const std::vector<RtpPacket>& packets,
                            const std::vector<int64_t>& deadlinesMs = {}) {
    for (size_t k = 0; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(packets[k].ssrc, packets[0].ssrc);
        EXPECT_EQ(packets[k].marker, k == 0);
        if (k == 0) {
            continue;
        }
        EXPECT_EQ(packets[k].sequence, static_cast<uint16_t>(packets[k - 1].sequence + 1));
        uint32_t step = static_cast<uint32_t>(packets[k - 1].payload.size());
        if (k < deadlinesMs.size()) {
            step = static_cast<uint32_t>((deadlinesMs[k] - deadlinesMs[k - 1]) * 8);
        } else if (packets[k].payload.size() != packets[k - 1].payload.size()) {
            step += static_cast<uint32_t>(packets[k].payload.size());
        }
        EXPECT_EQ(packets[k].timestamp, packets[k - 1].timestamp + step);
    }
}

// Deadlines from `startMs`, every `periodMs`, up to and including `lastMs`.
void AppendGrid(std::vector<int64_t>& out, int64_t startMs, int64_t periodMs, int64_t lastMs) {
    for (int64_t t = startMs; t <= lastMs; t += periodMs) {
        out.push_back(t * kMs);
    }
}

}  // namespace

TEST(StreamingStatus, WireFormKeepsTheCodesAndTheOpenFailureMark) {
    const std::pair<StreamingStatus, Message> cases[] = {
        {StreamingStatus::FileStarted(3), {0, 3}},
        {StreamingStatus::OpenFailed(3), {0, 0x10003}},
        {StreamingStatus::SecondElapsed(7), {1, 7}},
        {StreamingStatus::FileFinished(185), {2, 185}},
        {StreamingStatus::Ended(), {3, 0}},
        {StreamingStatus::OpenFailed(0x10005), {0, 0x10005}},  // the index never sets the mark
        {StreamingStatus::FileStarted(0x10005), {0, 5}},
    };
    for (const auto& [status, wire] : cases) {
        EXPECT_EQ(Message(status.WParam(), status.LParam()), wire);
        const StreamingStatus back = StreamingStatus::Decode(wire.first, wire.second);
        EXPECT_EQ(back.code, status.code);
        EXPECT_EQ(back.openFailed, status.openFailed);
        EXPECT_EQ(back.index, status.index & 0xFFFF);
        EXPECT_EQ(back.durationSeconds, status.durationSeconds);
    }
    // Any bit of the high word marks a failure, on code 0 only.
    EXPECT_TRUE(StreamingStatus::Decode(0, 0x80002).openFailed);
    EXPECT_EQ(StreamingStatus::Decode(0, 0x80002).index, 2u);
    EXPECT_FALSE(StreamingStatus::Decode(1, 0x10002).openFailed);
    EXPECT_EQ(StreamingStatus::Decode(2, 0x10002).durationSeconds, 0x10002);
}

TEST_F(SessionTest, PlaysEveryKindOfSourceOnceAndReportsEachStep) {
    const std::string stereo = dir.File("stereo.wav");
    const std::string adpcm = dir.File("adpcm.wav");
    ASSERT_TRUE(WritePcmWav(stereo, 44100, 2, 1.0, 1020, 16384));
    const bool haveAdpcm = WriteImaAdpcmWav(adpcm, 1.0);
    playlist.AppendFile(Entry(stereo, WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(Mulaw("mulaw.wav", 1.0), WAVE_FORMAT_ALAW, 40));
    if (haveAdpcm) {
        playlist.AppendFile(Entry(adpcm, WAVE_FORMAT_MULAW, 20));
    }
    const std::string mp3 = dir.File("tone.mp3");
    ASSERT_TRUE(WriteMp3(mp3, 2.0)) << "lame is needed";
    playlist.AppendFile(Entry(mp3, WAVE_FORMAT_MULAW, 80));
    const intptr_t mp3Index = haveAdpcm ? 3 : 2;

    Run(false);

    // Per file: 0, one 1 per second, 2 with the duration; then the next file; finally 3.
    std::vector<Message> expected = {{0, 0}, {1, 0}, {2, 1}, {0, 1}, {1, 1}, {2, 1}};
    if (haveAdpcm) {
        // 4 kB of ADPCM is less than its 43008-byte chunk, and streams whole all the same.
        expected.insert(expected.end(), {{0, 2}, {1, 2}, {2, 1}});
    }
    expected.push_back({0, mp3Index});
    const auto messages = poster.Messages();
    const auto times = poster.Times();
    ASSERT_GT(messages.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<Message>(messages.begin(),
                                   messages.begin() + static_cast<long>(expected.size())),
              expected);
    // The first second of 20 ms ticks: 50 ticks after the open.
    EXPECT_EQ(times[1] - times[0], 1000 * kMs);
    // The MP3 (2 s and its encoder's delay, untagged) in 80 ms packets: two reports of 13
    // ticks, the excess over a second dropped each time.
    const size_t seconds = messages.size() - expected.size() - 2;
    EXPECT_EQ(seconds, 2u);
    for (size_t i = expected.size(); i < messages.size() - 2; ++i) {
        EXPECT_EQ(messages[i], Message(1, mp3Index));
        EXPECT_EQ(times[i] - times[i - 1], 1040 * kMs) << i;
    }
    EXPECT_EQ(messages[messages.size() - 2], Message(2, 2));
    EXPECT_EQ(messages.back(), Message(3, 0));

    const auto first = receivers[0]->TakeAll();
    const auto second = receivers[1]->TakeAll();
    // 44100 Hz stereo: exactly 8000 samples (the rate converter adds none) in packets of
    // 160; mu-law: 8000 samples in packets of 320; sox's ADPCM 8080 samples; the MP3 about
    // 2.1 s of 80 ms packets. Nothing is held back.
    const size_t stereoPackets = 50;
    const size_t mulawEnd = stereoPackets + 25;
    const size_t adpcmEnd = mulawEnd + (haveAdpcm ? 51 : 0);
    ASSERT_GE(first.size(), adpcmEnd + 26);
    ASSERT_LE(first.size(), adpcmEnd + 28);
    for (size_t k = 0; k < first.size(); ++k) {
        const bool alaw = k >= stereoPackets && k < mulawEnd;
        EXPECT_EQ(first[k].payloadType, alaw ? 8 : 0) << k;
        EXPECT_EQ(first[k].payload.size(), alaw ? 320u : k < adpcmEnd ? 160u : 640u) << k;
    }
    ExpectContinuousStream(first);
    ASSERT_EQ(second.size(), first.size());
    ExpectContinuousStream(second);
    EXPECT_NE(second[0].ssrc, first[0].ssrc) << "each destination has its own source";
    for (size_t k = 0; k < first.size(); ++k) {
        EXPECT_EQ(first[k].payload, second[k].payload);
    }

    // A second run is another source (RFC 3550 8): a new random SSRC, and its first packet
    // marked.
    playlist.Files.resize(1);
    Run(false);
    const auto again = receivers[0]->TakeAll();
    ASSERT_EQ(again.size(), stereoPackets);
    EXPECT_TRUE(again.front().marker);
    EXPECT_NE(again.front().ssrc, first.back().ssrc);
    ExpectContinuousStream(again);
}

TEST_F(SessionTest, InvalidOrUnopenableEntriesGiveTheMarkedReport) {
    const std::string mulaw = Mulaw("mulaw.wav", 1.0);
    PlaylistFile invalid = Entry(mulaw, WAVE_FORMAT_MULAW, 20);
    invalid.Valid = 0;
    PlaylistFile missing = Entry(mulaw, WAVE_FORMAT_MULAW, 20);
    missing.Source.SetPath(dir.File("gone.wav").c_str());
    playlist.AppendFile(invalid);
    playlist.AppendFile(missing);
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));

    poster.m_stopOnFailure = false;  // a view slow to react: the pass goes on
    Run(false);
    const std::vector<Message> expected = {
        {0, 0 | kOpenFailureMark}, {0, 1 | kOpenFailureMark}, {0, 2}, {1, 2}, {2, 1}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_EQ(receivers[0]->TakeAll().size(), 50u);  // 8000 samples in packets of 160
}

// A stored destination that must not be sent to (here the limited broadcast, which a
// broken check could not reach either: the socket has no SO_BROADCAST) is reported once per
// entry after its start, and the others go on.
TEST_F(SessionTest, UnusableDestinationsAreLeftOutAndReported) {
    playlist.AppendDestination(RtpDestination::FromOctets(255, 255, 255, 255, 5004));
    playlist.AppendFile(Entry(Mulaw("a.wav", 1.0), WAVE_FORMAT_MULAW, 20));
    Run(false);
    const auto fault = static_cast<intptr_t>(destinationcheck::SendFault::UnusableAddress);
    const std::vector<Message> expected = {{0, 0}, {4, 2 | (fault << 16)}, {1, 0}, {2, 1}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    const StreamingStatus decoded = StreamingStatus::Decode(4, 2 | (fault << 16));
    EXPECT_EQ(decoded.index, 2u);
    EXPECT_EQ(decoded.fault, fault);
    EXPECT_EQ(receivers[0]->TakeAll().size(), 50u);
    EXPECT_EQ(receivers[1]->TakeAll().size(), 50u);
    EXPECT_EQ(session.Wire().Sender(2).Sequence(), 0u);
}

uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
    return static_cast<uint32_t>(d[at]) << 24 | static_cast<uint32_t>(d[at + 1]) << 16 |
           static_cast<uint32_t>(d[at + 2]) << 8 | d[at + 3];
}

// What a receiver learns besides the packets, read as RFC 3550 6 and RFC 2974 3 describe
// it: sender reports whose counts are the packets it received and whose RTP and NTP times
// map onto each other within 1 ms across three entries of 20, 40 and 80 ms packets (the
// pauses between them included), the CNAME, BYE last; SAP announcements of each stream's
// SDP, unicast to the receiving host as asked, and their deletion at the end.
TEST_F(SessionTest, ReportsAndAnnouncementsDescribeTheRun) {
    using testsupport::LoopbackReceiver;
    std::unique_ptr<LoopbackReceiver> rtp;
    std::unique_ptr<LoopbackReceiver> rtcp;
    for (int tries = 0; tries < 20 && !(rtcp && rtcp->Ok()); ++tries) {
        rtp = std::make_unique<LoopbackReceiver>();
        rtcp = std::make_unique<LoopbackReceiver>(static_cast<uint16_t>(rtp->Port() + 1));
    }
    ASSERT_TRUE(rtcp && rtcp->Ok()) << "no free pair of ports";
    LoopbackReceiver sap(9875);
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, rtp->Port()));
    playlist.RtcpReports = 1;
    playlist.SapAnnounce = kSapAll;
    playlist.AppendFile(Entry(Mulaw("a.wav", 4.0), WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(Mulaw("b.wav", 4.0), WAVE_FORMAT_MULAW, 40));
    playlist.AppendFile(Entry(Mulaw("c.wav", 4.0), WAVE_FORMAT_MULAW, 80));
    ASSERT_TRUE(session.SetSessionName("lobby"));
    Run(false);

    uint32_t packets = 0;
    uint32_t octets = 0;
    uint32_t ssrc = 0;
    for (const auto& datagram : rtp->TakeAll()) {
        ++packets;
        octets += static_cast<uint32_t>(datagram.size() - 12);
        ssrc = Be32(datagram, 8);
    }
    ASSERT_GT(packets, 250u);
    uint64_t previousNtp = 0;
    const auto reports = rtcp->TakeAll();
    ASSERT_GE(reports.size(), 2u);  // 12 s: at least one every 7.5 s, and the last
    uint64_t firstNtp = 0;
    uint32_t firstRtp = 0;
    for (size_t r = 0; r < reports.size(); ++r) {
        SCOPED_TRACE(r);
        const auto& d = reports[r];
        ASSERT_GE(d.size(), 28u + 12u);
        EXPECT_EQ(d[0], 0x80);  // version 2, no padding, no report blocks
        EXPECT_EQ(d[1], 200);
        ASSERT_EQ((d[2] << 8 | d[3]), 6);
        EXPECT_EQ(Be32(d, 4), ssrc);
        const uint64_t ntp = static_cast<uint64_t>(Be32(d, 8)) << 32 | Be32(d, 12);
        const uint32_t rtpTime = Be32(d, 16);
        if (r == 0) {
            firstNtp = ntp;
            firstRtp = rtpTime;
        }
        const double ntpSeconds = static_cast<double>(ntp - firstNtp) / 4294967296.0;
        const double rtpSeconds = static_cast<uint32_t>(rtpTime - firstRtp) / 8000.0;
        EXPECT_NEAR(rtpSeconds, ntpSeconds, 0.001);
        // SDES: one chunk whose CNAME names this program on this host.
        size_t at = 28;
        EXPECT_EQ(d[at], 0x81);
        EXPECT_EQ(d[at + 1], 202);
        const size_t sdesBytes = (static_cast<size_t>(d[at + 2]) << 8 | d[at + 3]) * 4 + 4;
        ASSERT_LE(at + sdesBytes, d.size());
        EXPECT_EQ(Be32(d, at + 4), ssrc);
        EXPECT_EQ(d[at + 8], 1);
        const std::string cname(d.begin() + static_cast<long>(at) + 10,
                                d.begin() + static_cast<long>(at) + 10 + d[at + 9]);
        EXPECT_EQ(cname.rfind("sonvex@", 0), 0u) << cname;
        at += sdesBytes;
        const bool last = r + 1 == reports.size();
        if (last) {
            // The counts are what was sent; BYE of the one source ends it.
            EXPECT_EQ(Be32(d, 20), packets);
            EXPECT_EQ(Be32(d, 24), octets);
            ASSERT_EQ(d.size(), at + 8);
            EXPECT_EQ(d[at], 0x81);
            EXPECT_EQ(d[at + 1], 203);
            EXPECT_EQ(Be32(d, at + 4), ssrc);
            // Once: no report of its own at the same time.
            EXPECT_GE(static_cast<double>(ntp - previousNtp) / 4294967296.0, 0.02) << r;
        } else {
            EXPECT_EQ(d.size(), at);
            EXPECT_LT(Be32(d, 20), packets);
        }
        previousNtp = ntp;
    }

    if (!sap.Ok()) {
        GTEST_SKIP() << "the SAP port is taken here";
    }
    size_t announcements = 0;
    size_t deletions = 0;
    size_t ownOrigin = 0;  // the session of the stream's SSRC
    for (const auto& d : sap.TakeAll()) {
        ASSERT_GT(d.size(), 8u + 16u);
        EXPECT_EQ(d[0] & 0xEB, 0x20);  // version 1, IPv4, not encrypted or compressed
        EXPECT_EQ(d[1], 0);
        EXPECT_EQ(Be32(d, 4), 0x7F000001u);  // from loopback's address
        const std::string rest(d.begin() + 8, d.end());
        EXPECT_EQ(rest.substr(0, 16), std::string("application/sdp", 16));
        const std::string sdp = rest.substr(16);
        EXPECT_EQ(sdp.rfind("v=0\r\n", 0), 0u);
        EXPECT_NE(sdp.find(" IN IP4 127.0.0.1\r\ns=lobby\r\n"), std::string::npos) << sdp;
        ownOrigin += sdp.find("o=- " + std::to_string(ssrc) + " ") == 5 ? 1 : 0;
        EXPECT_NE(sdp.find("a=rtpmap:0 PCMU/8000\r\n"), std::string::npos);
        EXPECT_NE(sdp.find("a=maxptime:80\r\n"), std::string::npos);
        if ((d[0] & 0x04) != 0) {
            ++deletions;
        } else {
            EXPECT_EQ(deletions, 0u) << "an announcement after a deletion";
            ++announcements;
        }
    }
    EXPECT_GE(ownOrigin, 4u);      // three announcements and the deletion, at least
    EXPECT_EQ(deletions, 3u);      // one per destination
    EXPECT_GE(announcements, 9u);  // each of three every 5 s from the first tick on
}

TEST_F(SessionTest, ViewClearingTheFlagOnFailureEndsTheRun) {
    PlaylistFile invalid = Entry(Mulaw("mulaw.wav", 1.0), WAVE_FORMAT_MULAW, 20);
    invalid.Valid = 0;
    playlist.AppendFile(invalid);
    playlist.AppendFile(Entry(Mulaw("fine.wav", 1.0), WAVE_FORMAT_MULAW, 20));
    Run(true);
    const std::vector<Message> expected = {{0, kOpenFailureMark}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_TRUE(receivers[0]->TakeAll().empty());
    EXPECT_FALSE(session.IsStreaming());
}

// With loop mode on and a view that never clears the flag, a pass that opens nothing pauses
// 250 ms before the next instead of spinning.
TEST_F(SessionTest, FailingPassesPauseInsteadOfSpinning) {
    PlaylistFile invalid;
    invalid.Valid = 0;
    playlist.AppendFile(invalid);
    playlist.AppendFile(invalid);
    poster.m_stopOnFailure = false;
    ticks.At(600 * kMs, [this] { session.Stop(); });
    Run(true);
    const Message failed0{0, kOpenFailureMark};
    const Message failed1{0, 1 | kOpenFailureMark};
    const std::vector<Message> expected = {failed0, failed1, failed0, failed1,
                                           failed0, failed1, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_EQ(ticks.Deadlines(), (std::vector<int64_t>{250 * kMs, 500 * kMs, 750 * kMs}));
}

TEST_F(SessionTest, StopEndsTheEntryWithinOnePeriod) {
    const std::string mulaw = Mulaw("mulaw.wav", 3.0);
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(mulaw, WAVE_FORMAT_MULAW, 20));
    // Stop arrives 7 ms into the period after the 50th tick: the tick at 1020 ms still sends
    // its packet, then the entry closes and the run ends.
    ticks.At(1007 * kMs, [this] { session.Stop(); });
    Run(true);
    const std::vector<Message> expected = {{0, 0}, {1, 0}, {2, 3}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_EQ(poster.Times()[2], 1020 * kMs);
    EXPECT_EQ(ticks.Deadlines().back(), 1020 * kMs);
    EXPECT_EQ(receivers[0]->TakeAll().size(), 51u);

    // A Stop between entries ends the run before the next entry is opened.
    poster.m_onReport = [this](const StreamingStatus& status) {
        if (status.code == kFileFinished) {
            session.Stop();
        }
    };
    Run(true);
    const auto messages = poster.Messages();
    const std::vector<Message> second = {{0, 0}, {1, 0}, {1, 0}, {1, 0}, {2, 3}, {3, 0}};
    EXPECT_EQ(
        std::vector<Message>(messages.begin() + static_cast<long>(expected.size()), messages.end()),
        second);
}

TEST_F(SessionTest, LateTicksAreNotRepeated) {
    playlist.AppendFile(Entry(Mulaw("mulaw.wav", 2.0), WAVE_FORMAT_MULAW, 20));
    // The worker wakes 55 ms late from its sleep to the 520 ms deadline (the host stalled
    // it): the deadlines of 520, 540 and 560 ms give one tick, and the next is at 580 ms.
    ticks.At(505 * kMs, [this] { ticks.Advance(55 * kMs); });
    // A packet that takes 45 ms (on the 50th tick, at 1040 ms): the 1060 ms tick comes at
    // once, late, and alone; the next is at 1100 ms.
    poster.m_onReport = [this](const StreamingStatus& status) {
        if (status.code == kSecondElapsed && ticks.NowNs() == 1040 * kMs) {
            ticks.Advance(45 * kMs);
        }
    };
    Run(false);

    std::vector<int64_t> expected;
    AppendGrid(expected, 20, 20, 520);
    AppendGrid(expected, 580, 20, 1060);
    // 16000 samples: 100 packets and the tick that finds the source exhausted.
    AppendGrid(expected, 1100, 20, 1100 + (101 - static_cast<int64_t>(expected.size()) - 1) * 20);
    EXPECT_EQ(ticks.Deadlines(), expected);
    const auto packets = receivers[0]->TakeAll();
    EXPECT_EQ(packets.size(), 100u);
    // The packets went out on every deadline but the last; the timestamps skip the 40 ms
    // of collapsed ticks rather than reading as a late burst.
    std::vector<int64_t> sentMs;
    for (size_t k = 0; k + 1 < expected.size(); ++k) {
        sentMs.push_back(expected[k] / kMs);
    }
    ExpectContinuousStream(packets, sentMs);
    // Ticks, not time, make the seconds: 50 ticks each.
    const std::vector<Message> reports = {{0, 0}, {1, 0}, {1, 0}, {2, 2}, {3, 0}};
    EXPECT_EQ(poster.Messages(), reports);
}

TEST_F(SessionTest, TicksThatNeverComeEndTheEntry) {
    playlist.AppendFile(Entry(Mulaw("a.wav", 1.0), WAVE_FORMAT_MULAW, 20));
    playlist.AppendFile(Entry(Mulaw("b.wav", 1.0), WAVE_FORMAT_MULAW, 20));
    ticks.FailSleeps();
    Run(false);
    const std::vector<Message> expected = {{0, 0}, {2, 1}, {0, 1}, {2, 1}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_TRUE(receivers[0]->TakeAll().empty());

    // A period beyond the 5 s limit: the wait gives up after 5 s. Arming again starts a new
    // schedule one period from then.
    FakeTickSource clock;
    PeriodicTicks periodic(clock);
    periodic.Arm(8000);
    EXPECT_EQ(periodic.Wait(5000), TickWait::TimedOut);
    EXPECT_EQ(clock.NowNs(), 5000 * kMs);
    periodic.Arm(20);
    EXPECT_EQ(periodic.Wait(5000), TickWait::Tick);
    EXPECT_EQ(clock.NowNs(), 5020 * kMs);
    EXPECT_EQ(periodic.LastDeadlineNs(), 5020 * kMs);
}

TEST_F(SessionTest, LoopModeStartsOverWithAFreshScheduleAtTheFirstEntry) {
    playlist.AppendFile(Entry(Mulaw("mulaw.wav", 1.0), WAVE_FORMAT_MULAW, 40));
    ticks.At(2090 * kMs, [this] { session.Stop(); });
    Run(true);
    const std::vector<Message> pass = {{0, 0}, {1, 0}, {2, 1}};
    std::vector<Message> expected = pass;
    expected.insert(expected.end(), pass.begin(), pass.end());
    expected.insert(expected.end(), {{0, 0}, {2, 1}, {3, 0}});
    EXPECT_EQ(poster.Messages(), expected);
    // 25 packets and the exhausted tick per pass; each pass's first tick one period after
    // its open, and the third pass's first tick sends before the Stop is seen.
    std::vector<int64_t> deadlines;
    AppendGrid(deadlines, 40, 40, 2120);
    EXPECT_EQ(ticks.Deadlines(), deadlines);
    const auto packets = receivers[0]->TakeAll();
    EXPECT_EQ(packets.size(), 51u);
    // Every deadline sent a packet but each pass's exhausted tick: the clock skips those.
    std::vector<int64_t> sentMs;
    for (const int64_t deadline : deadlines) {
        if (deadline != 1040 * kMs && deadline != 2080 * kMs) {
            sentMs.push_back(deadline / kMs);
        }
    }
    ExpectContinuousStream(packets, sentMs);
}

TEST_F(SessionTest, StartStopWaitAndShutdownAreSafeInAnyState) {
    session.Stop();  // nothing running
    session.Wait();
    session.Shutdown();
    EXPECT_FALSE(session.IsRunning());
    EXPECT_FALSE(session.Start()) << "an empty list starts nothing";
    EXPECT_FALSE(session.IsStreaming());

    playlist.AppendFile(Entry(Mulaw("mulaw.wav", 1.0), WAVE_FORMAT_MULAW, 20));
    ticks.Hold();
    ASSERT_TRUE(session.Start());
    EXPECT_TRUE(session.IsStreaming());
    EXPECT_TRUE(session.IsRunning());
    EXPECT_FALSE(session.Start()) << "one worker at a time";
    FakeTickSource other;
    EXPECT_FALSE(session.SetTickSource(other));
    ASSERT_TRUE(ticks.WaitForSleeper());
    session.Stop();
    session.Stop();
    EXPECT_FALSE(session.IsStreaming());
    EXPECT_TRUE(session.IsRunning()) << "still finishing its tick";
    EXPECT_FALSE(session.Start()) << "the old worker has not been collected";
    ticks.Advance(20 * kMs);
    session.Shutdown();
    session.Shutdown();
    EXPECT_FALSE(session.IsRunning());
    const std::vector<Message> expected = {{0, 0}, {2, 1}, {3, 0}};
    EXPECT_EQ(poster.Messages(), expected);
    EXPECT_EQ(receivers[0]->TakeAll().size(), 1u);

    // Collected: a new run starts; the destructor ends it.
    ticks.RunFree();
    session.SetLoopMode(true);
    EXPECT_TRUE(session.Start());
}
