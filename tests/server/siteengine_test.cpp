// The paging server's engine end to end on 127.0.0.1: background music on two speakers, an
// announcement over it on one, an emergency page over both; what each speaker receives.

#include "server/siteengine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <numbers>
#include <thread>

#include "codec/waveformat.h"
#include "enginetestsupport.h"

namespace {

constexpr int kSamples = 160;  // 20 ms at 8 kHz

// The amplitude (of 32768) of the component of `hz` in one packet: a whole number of its
// cycles fits the packet for 400, 1000 and 2000 Hz.
double Amplitude(const std::vector<uint8_t>& payload, double hz) {
    std::complex<double> sum;
    for (size_t n = 0; n < payload.size(); ++n) {
        const double phase = 2 * std::numbers::pi * hz * static_cast<double>(n) / 8000.0;
        sum += static_cast<double>(MulawDecode(payload[n])) * std::polar(1.0, -phase);
    }
    return 2 * std::abs(sum) / static_cast<double>(payload.size()) / 32768.0;
}

// What a packet carries: M music alone, N the notice over ducked music, E the page alone,
// ? anything else.
char Classify(const RtpPacket& packet) {
    const double music = Amplitude(packet.payload, 400);
    const double notice = Amplitude(packet.payload, 1000);
    const double page = Amplitude(packet.payload, 2000);
    if (page > 0.1 && music < 0.005 && notice < 0.005) {
        return 'E';
    }
    // Two tones through G.711 leave a little of everything else.
    if (notice > 0.3 && music > 0.02 && music < 0.2 && page < 0.02) {
        return 'N';
    }
    if (music > 0.3 && notice < 0.005 && page < 0.005) {
        return 'M';
    }
    return '?';
}

class SiteEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (probe.Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        const char* home = std::getenv("HOME");
        m_home = home != nullptr ? home : "";
    }
    void TearDown() override { testsupport::RestoreHome(m_home); }

    Playlist Tone(const char* name, double hz, double seconds) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WritePcmWav(path, 8000, 1, seconds, hz, 16000));
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(probe, path, WAVE_FORMAT_MULAW, 20, entry));
        Playlist playlist;
        playlist.AppendFile(entry);
        return playlist;
    }
    static SiteSource::Settings Setup(const char* name, int priority, bool duck,
                                      std::vector<RtpDestination> to) {
        SiteSource::Settings s;
        s.name = name;
        s.priority = priority;
        s.duck = duck;
        s.destinations = std::move(to);
        return s;
    }
    // Waits (at most 10 s) for the event of `kind` of the source `id`.
    static bool AwaitEvent(SiteEngine& engine, uint64_t id, SiteEngine::Event::Kind kind,
                           std::vector<SiteEngine::Event>& seen) {
        for (int k = 0; k < 1000; ++k) {
            for (auto& e : engine.TakeEvents()) {
                seen.push_back(e);
            }
            for (const auto& e : seen) {
                if (e.id == id && e.kind == kind) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    WinSonvex probe;
    TempDir dir;
    RtpReceiver a;
    RtpReceiver b;
    std::string m_home;
};

// The phases a speaker heard, one letter each ("MNENM"), and checks that hold throughout:
// one stream (one SSRC, the sequence by one), and the marker on the first packet of each new
// holder, and on no other.
std::string Phases(const std::vector<RtpPacket>& packets) {
    std::string phases;
    size_t lastClassified = 0;
    std::vector<size_t> changes;  // where each new holder's first packet should be
    for (size_t k = 0; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(packets[k].ssrc, packets[0].ssrc);
        if (k > 0) {
            EXPECT_EQ(packets[k].sequence, static_cast<uint16_t>(packets[k - 1].sequence + 1));
        }
        const char c = Classify(packets[k]);
        // The duck ramps make a few packets in between: they start no phase.
        if (c == '?') {
            continue;
        }
        if (phases.empty() || phases.back() != c) {
            phases += c;
            changes.push_back(phases.size() == 1 ? 0 : lastClassified + 1);
        }
        lastClassified = k;
    }
    std::vector<size_t> markers;
    for (size_t k = 0; k < packets.size(); ++k) {
        if (packets[k].marker) {
            markers.push_back(k);
        }
    }
    EXPECT_EQ(markers, changes);
    return phases;
}

}  // namespace

TEST_F(SiteEngineTest, AnnouncementDucksMusicEmergencyMutesBothAndEachResumes) {
    ASSERT_TRUE(MakeToneDevice(dir.Path(), 2000));
    SiteEngine engine(20);
    ASSERT_TRUE(engine.Start());
    Playlist music = Tone("music.wav", 400, 10);
    Playlist notice = Tone("notice.wav", 1000, 1);

    auto background = std::make_unique<PlaylistRun>(
        Setup("Music", 10, true, {a.Destination(), b.Destination()}), music, true, 20, 0);
    ASSERT_TRUE(background->Open());
    const uint64_t musicId = engine.Add(std::move(background));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    auto announcement = std::make_unique<PlaylistRun>(Setup("Notice", 50, false, {a.Destination()}),
                                                      notice, false, 20, 0);
    ASSERT_TRUE(announcement->Open());
    const uint64_t noticeId = engine.Add(std::move(announcement));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    PageRun::Page page;
    page.device = "tone";
    page.durationMs = 400;
    auto emergency = std::make_unique<PageRun>(
        Setup("Emergency", kPriorityEmergency, false, {a.Destination(), b.Destination()}), page,
        20);
    ASSERT_TRUE(emergency->Start());
    const uint64_t pageId = engine.Add(std::move(emergency));

    std::vector<SiteEngine::Event> seen;
    ASSERT_TRUE(AwaitEvent(engine, pageId, SiteEngine::Event::Kind::kFinished, seen));
    ASSERT_TRUE(AwaitEvent(engine, noticeId, SiteEngine::Event::Kind::kFinished, seen));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(engine.End(musicId));
    EXPECT_FALSE(engine.End(noticeId));  // it ended by itself
    engine.Stop();

    const std::vector<RtpPacket> atA = a.TakeAll();
    const std::vector<RtpPacket> atB = b.TakeAll();
    EXPECT_EQ(Phases(atA), "MNENM");
    EXPECT_EQ(Phases(atB), "MEM");

    // Under the notice the music is heard at its duck level, -15 dB, once the 100 ms ramp is
    // over; under the emergency not at all (the classes above say so).
    std::vector<double> full;
    std::vector<double> ducked;
    for (const RtpPacket& p : atA) {
        const char c = Classify(p);
        (c == 'M' ? full : ducked).push_back(Amplitude(p.payload, 400));
        if (c != 'M' && c != 'N') {
            ducked.pop_back();
        }
    }
    ASSERT_GT(ducked.size(), 20U);
    std::sort(full.begin(), full.end());
    std::sort(ducked.begin(), ducked.end());
    const double db = 20 * std::log10(ducked[ducked.size() / 2] / full[full.size() / 2]);
    EXPECT_NEAR(db, -15.0, 1.0);

    // The notice was interrupted, not cut: all its 50 packets were heard.
    const auto noticePackets = std::count_if(atA.begin(), atA.end(), [](const RtpPacket& p) {
        return Amplitude(p.payload, 1000) > 0.3;
    });
    EXPECT_EQ(noticePackets, 50);
}

// Op code (A Alert, T Transmit, E End) and channel of each run of Polycom packets, as
// "A27 T27 E27".
void AddRuns(const std::vector<std::vector<uint8_t>>& packets, std::string& runs) {
    for (const auto& p : packets) {
        const char op = p[0] == 0x0F ? 'A' : p[0] == 0x10 ? 'T' : p[0] == 0xFF ? 'E' : '?';
        const std::string run = op + std::to_string(p[1]);
        const size_t last = runs.rfind(' ');
        if (runs.substr(last == std::string::npos ? 0 : last + 1) != run) {
            runs += (runs.empty() ? "" : " ") + run;
        }
    }
}

// A Polycom destination that follows priorities: the music on its own channel, an emergency
// that interrupts it on its range's emergency channel, the music on its own again once the
// emergency is out; each channel its own session, Alerts first and Ends last. One that does
// not follow keeps its channel and its session throughout.
TEST_F(SiteEngineTest, PolycomChannelsFollowTheHoldersPriorityWhenAsked) {
    testsupport::LoopbackReceiver following;
    testsupport::LoopbackReceiver fixed;
    ASSERT_TRUE(following.Ok() && fixed.Ok());
    RtpDestination phones = RtpDestination::FromOctets(127, 0, 0, 1, following.Port());
    phones.Mode = kModePolycom;
    phones.Channel = 27;
    phones.FollowPriority = 1;
    RtpDestination others = RtpDestination::FromOctets(127, 0, 0, 1, fixed.Port());
    others.Mode = kModePolycom;
    others.Channel = 3;
    SiteEngine engine(20);
    ASSERT_TRUE(engine.Start());
    auto background = std::make_unique<PlaylistRun>(Setup("Music", 10, true, {phones, others}),
                                                    Tone("music.wav", 400, 10), true, 20, 0);
    ASSERT_TRUE(background->Open());
    const uint64_t musicId = engine.Add(std::move(background));
    std::string runs;
    // The music is on the air once its Alerts are out (about a second).
    while (runs.find("T27") == std::string::npos) {
        const auto packet = following.Receive(5000);
        ASSERT_TRUE(packet.has_value()) << runs;
        AddRuns({*packet}, runs);
    }
    auto alarm =
        std::make_unique<PlaylistRun>(Setup("Alarm", kPriorityEmergency, false, {phones, others}),
                                      Tone("alarm.wav", 2000, 1.5), false, 20, 0);
    ASSERT_TRUE(alarm->Open());
    engine.Add(std::move(alarm));
    while (runs.find("T27", runs.find("T50")) == std::string::npos) {
        const auto packet = following.Receive(5000);
        ASSERT_TRUE(packet.has_value()) << runs;
        AddRuns({*packet}, runs);
    }
    EXPECT_TRUE(engine.End(musicId));
    engine.Stop();  // the session's tail goes out
    AddRuns(following.TakeAll(), runs);
    EXPECT_EQ(runs, "A27 T27 E27 A50 T50 E50 A27 T27 E27");
    std::string fixedRuns;
    AddRuns(fixed.TakeAll(), fixedRuns);
    EXPECT_EQ(fixedRuns, "A3 T3 E3");
}
