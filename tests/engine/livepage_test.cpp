// Live pages through the real ALSA calls, on devices that need no hardware: `file` PCMs whose
// infile is a tone file (read as fast as asked: a device with no clock) or a FIFO the test
// writes (a device that takes as long to open as the test likes), sent to 127.0.0.1.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/pagecontrol.h"
#include "engine/streamingsession.h"
#include "enginetestsupport.h"
#include "support/faketicksource.h"
#include "support/wavefile.h"

namespace {

using testsupport::FakeTickSource;
constexpr int64_t kMs = FakeTickSource::kMs;

// Keeps the reports, thread-safely, and ends the run at its end as the view does.
class Reports : public StatusPoster {
public:
    void PostStatus(const StreamingStatus& status) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_codes.push_back(status.code | (status.openFailed ? 0x100 : 0));
    }
    std::vector<unsigned> Codes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_codes;
    }

private:
    std::mutex m_mutex;
    std::vector<unsigned> m_codes;
};

class LivePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (engine.Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        const char* home = std::getenv("HOME");
        m_home = home != nullptr ? home : "";
        playlist.AppendDestination(receiver.Destination());
    }
    void TearDown() override { testsupport::RestoreHome(m_home); }

    PlaylistFile Entry(double seconds) {
        const std::string path = dir.File("entry.wav");
        EXPECT_TRUE(WriteMulawWav(path, 8000, seconds, 1020, 16384));
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(engine, path, WAVE_FORMAT_MULAW, 20, entry));
        return entry;
    }
    // A FIFO as the capture device `name`; its open waits for a writer.
    std::filesystem::path Fifo(const char* name) {
        const std::filesystem::path fifo = dir.Path() / name;
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        EXPECT_TRUE(testsupport::DeclareFilePcms(dir.Path(), {{name, fifo}}));
        return fifo;
    }
    static PageControl::PageRequest Request(const char* device, int64_t durationMs) {
        PageControl::PageRequest request;
        std::strcpy(request.Device, device);
        request.DurationMs = durationMs;
        return request;
    }

    TempDir dir;
    WinSonvex engine;
    Playlist playlist;
    RtpReceiver receiver;
    Reports reports;
    StreamingSession session{playlist, engine, reports};
    std::string m_home;
};

// What went out, each packet with the worker's clock when it left.
struct Sent {
    int64_t atNs;
    RtpPacket packet;
};

// One run of packets, from one source after another, as one stream: sequence numbers by one,
// no gap in time longer than a packet time, and every timestamp within a packet time of the
// sending clock.
void ExpectOneContinuousStream(const std::vector<Sent>& sent) {
    ASSERT_FALSE(sent.empty());
    for (size_t k = 1; k < sent.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(sent[k].packet.ssrc, sent[0].packet.ssrc);
        EXPECT_EQ(sent[k].packet.sequence, static_cast<uint16_t>(sent[k - 1].packet.sequence + 1));
        EXPECT_LE(sent[k].atNs - sent[k - 1].atNs, 20 * kMs + kMs) << "silence on the wire";
        const int64_t clock = (sent[k].atNs - sent[0].atNs) * 8000 / 1000000000;
        const auto stamped = static_cast<int64_t>(
            static_cast<uint32_t>(sent[k].packet.timestamp - sent[0].packet.timestamp));
        EXPECT_LE(std::abs(stamped - clock), 160) << "timestamp off the sending clock";
    }
}

constexpr double kToneHz = 1000.0;

struct SineFit {
    double amplitude = 0;
    double snrDb = 0;
};

// 8 kHz samples against the sine of kToneHz that fits them best: its amplitude, and the
// signal to noise in dB.
SineFit FitSine(const std::vector<double>& x) {
    double c = 0;
    double s = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        c += x[n] * std::cos(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
        s += x[n] * std::sin(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
    }
    c *= 2.0 / static_cast<double>(x.size());
    s *= 2.0 / static_cast<double>(x.size());
    double signal = 0;
    double noise = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double fit = c * std::cos(2 * M_PI * kToneHz * static_cast<double>(n) / 8000) +
                           s * std::sin(2 * M_PI * kToneHz * static_cast<double>(n) / 8000);
        signal += fit * fit;
        noise += (x[n] - fit) * (x[n] - fit);
    }
    return {std::hypot(c, s), 10 * std::log10(signal / std::max(noise, 1e-9))};
}

}  // namespace

// The device opens only once the test writes its FIFO: meanwhile the entry plays on, packet
// after packet. Once the page's first packet is ready, the page takes over at the entry's
// next tick, its packets one per packet time although the device delivers a second at once,
// and afterwards the entry starts again from its first packet, all as one stream.
TEST_F(LivePageTest, TakesOverWithoutSilenceHeldToRealTimeAndHandsBack) {
    std::signal(SIGPIPE, SIG_IGN);  // the writer may outlive the page's reading
    const std::filesystem::path fifo = Fifo("slow");
    playlist.AppendFile(Entry(2.0));
    FakeTickSource ticks;
    ticks.Hold();
    session.SetTickSource(ticks);
    session.SetLoopMode(false);
    ASSERT_TRUE(session.Start());
    std::vector<Sent> sent;
    // One sleep of the worker ends on its deadline, and its one packet arrives.
    const auto step = [&] {
        auto packet = ticks.ReleaseSleeps(1) ? receiver.Receive(5000) : std::nullopt;
        if (packet) {
            sent.push_back({ticks.NowNs(), std::move(*packet)});
        }
        return packet.has_value();
    };
    bool flowing = true;
    for (int i = 0; i < 10 && flowing; ++i) {
        flowing = step();
    }
    ASSERT_TRUE(session.RequestPage(Request("slow", 400)));
    for (int i = 0; i < 10 && flowing; ++i) {
        flowing = step();  // the device is still opening
    }
    EXPECT_EQ(session.CurrentPageState(), PageState::kOpening);
    // A second of a 1 kHz tone at once: more than the page takes.
    std::thread writer([&fifo] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        const std::vector<uint8_t> tone = testsupport::SinePcm16(48000, 1, 48000, 1000, 12000);
        EXPECT_GT(::write(fd, tone.data(), tone.size()), 0);
        ::close(fd);
    });
    // The write ends once the device has read all but a pipe's buffer of it (64 KiB): the
    // device is open and its first packets are converted, in real time, while the worker's
    // clock stands still.
    writer.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    size_t marked = 0;
    while (flowing && sent.size() < 200 && (marked == 0 || sent.size() < marked + 40)) {
        flowing = step();
        if (flowing && sent.back().packet.marker && marked == 0) {
            marked = sent.size() - 1;
        }
    }
    ticks.RunFree();
    session.Shutdown();
    ASSERT_TRUE(flowing) << "the stream stopped after " << sent.size() << " packets; "
                         << session.PageFailure();

    ASSERT_GE(marked, 20u) << "no page";
    ExpectOneContinuousStream(sent);
    // The page: 400 ms in 20 packets, each at its own packet time; then the entry again from
    // its first packet, marked as a change of source.
    for (size_t k = marked + 1; k < marked + 20; ++k) {
        EXPECT_GE(sent[k].atNs - sent[k - 1].atNs, 20 * kMs) << "more than a packet a packet time";
        EXPECT_FALSE(sent[k].packet.marker) << k;
    }
    EXPECT_TRUE(sent[marked + 20].packet.marker);
    EXPECT_EQ(sent[marked + 20].packet.payload, sent[0].packet.payload);
    const std::vector<unsigned> codes = reports.Codes();
    const std::vector<unsigned> expected = {kFileStarted, kPageStarted, kPageEnded, kFileStarted};
    std::vector<unsigned> seen;
    for (const unsigned code : codes) {
        if (code == kFileStarted || code == kPageStarted || code == kPageEnded) {
            seen.push_back(code);
        }
    }
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(std::vector<unsigned>(seen.begin(), seen.begin() + 4), expected);
}

// A device whose open never ends (a FIFO nobody writes) fails its page after a bounded wait;
// the entry plays on undisturbed throughout, and the run stops at once when asked.
TEST_F(LivePageTest, ADeviceThatNeverOpensFailsThePageAndTheStreamGoesOn) {
    const std::filesystem::path fifo = Fifo("hung");
    playlist.AppendFile(Entry(8.0));
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(receiver.Receive(5000).has_value());
    ASSERT_TRUE(session.RequestPage(Request("hung", 0)));
    while (session.IsPageActive()) {
        ASSERT_TRUE(receiver.Receive(5000).has_value()) << "the stream stopped";
    }
    EXPECT_NE(session.PageFailure().find("\"hung\" did not open within 3 s"), std::string::npos)
        << session.PageFailure();
    session.Shutdown();
    EXPECT_FALSE(session.IsRunning());
    const std::vector<RtpPacket> rest = receiver.TakeAll();
    for (const RtpPacket& packet : rest) {
        EXPECT_FALSE(packet.marker);
    }
    const std::vector<unsigned> codes = reports.Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kPageEnded | 0x100), 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kPageStarted), 0);
    // Lets the capture thread's open end, so that it leaves nothing behind.
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ::close(fd);
}

// A page alone from a device with no clock, with sender reports on: its packets are held to
// real time (here the worker's clock), the reports keep their schedule
// during it and count what was sent, and the last one goes out once, with BYE. The tone
// arrives clean, at the live volume.
TEST_F(LivePageTest, APageAloneReportsAndIsHeldToRealTime) {
    const std::vector<uint8_t> tone = testsupport::SinePcm16(48000 * 9, 1, 48000, 1000, 12000);
    {
        std::ofstream raw(dir.Path() / "long.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(tone.data()),
                  static_cast<std::streamsize>(tone.size()));
    }
    ASSERT_TRUE(testsupport::DeclareFilePcms(dir.Path(), {{"long", dir.Path() / "long.raw"}}));
    testsupport::LoopbackReceiver rtcp(static_cast<uint16_t>(receiver.Port() + 1));
    if (!rtcp.Ok()) {
        GTEST_SKIP() << "the port above the receiver's is taken";
    }
    playlist.RtcpReports = 1;
    FakeTickSource ticks;
    ticks.Hold();
    session.SetTickSource(ticks);
    engine.SetVolumeDb(-6);
    ASSERT_TRUE(session.RequestPage(Request("long", 8000)));
    // The worker's clock moves only to the deadlines it sleeps to: the device, read in real
    // time, is always ahead of it. The capture thread tells a device free of real time once
    // it has read well ahead, within a packet time of real time; the worker's clock, which
    // would otherwise race through packets meanwhile, waits that long after the first one.
    std::atomic<bool> over{false};
    std::thread clock([&] {
        while (!over.load() && session.PageLevel() == 0.0F) {
            ticks.ReleaseSleeps(1, 20);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        while (!over.load()) {
            ticks.ReleaseSleeps(1, 20);
        }
    });
    session.Wait();
    over.store(true);
    clock.join();
    EXPECT_EQ(session.PageFailure(), "");
    const std::vector<RtpPacket> packets = receiver.TakeAll();
    ASSERT_EQ(packets.size(), 400u);  // 8 s
    std::vector<double> audio;
    for (size_t k = 5; k < 100; ++k) {
        for (const uint8_t code : packets[k].payload) {
            audio.push_back(testsupport::MulawToLinear(code));
        }
    }
    const SineFit fit = FitSine(audio);
    EXPECT_GT(fit.snrDb, 30.0);
    EXPECT_NEAR(fit.amplitude, 12000 * 0.501, 12000 * 0.03);
    const auto senderReports = rtcp.TakeAll();
    ASSERT_GE(senderReports.size(), 2u);  // one every 2.5-7.5 s, and the last with BYE
    for (size_t r = 0; r < senderReports.size(); ++r) {
        const auto& d = senderReports[r];
        ASSERT_GE(d.size(), 28u);
        EXPECT_EQ(d[1], 200);
        const bool bye = d.size() > 28 + 4 && d[d.size() - 7] == 203;
        EXPECT_EQ(bye, r + 1 == senderReports.size()) << r;
    }
    const auto be32 = [](const std::vector<uint8_t>& d, size_t at) {
        return static_cast<uint32_t>(d[at]) << 24 | static_cast<uint32_t>(d[at + 1]) << 16 |
               static_cast<uint32_t>(d[at + 2]) << 8 | d[at + 3];
    };
    const auto& first = senderReports.front();
    const auto& last = senderReports.back();
    EXPECT_EQ(be32(last, 20), 400u) << "the packets sent";
    // Reports and packets on one clock: the RTP time of each report maps onto its NTP time,
    // and the last report's RTP time is the last packet's, a packet time on.
    const uint64_t ntpFirst = static_cast<uint64_t>(be32(first, 8)) << 32 | be32(first, 12);
    const uint64_t ntpLast = static_cast<uint64_t>(be32(last, 8)) << 32 | be32(last, 12);
    EXPECT_NEAR(static_cast<double>(ntpLast - ntpFirst) / 4294967296.0,
                static_cast<uint32_t>(be32(last, 16) - be32(first, 16)) / 8000.0, 0.001);
    EXPECT_NEAR(
        static_cast<double>(static_cast<int32_t>(be32(last, 16) - packets.back().timestamp)), 160.0,
        160.0);
}

TEST(PageControl, RefusesWhatCannotBePagedAndEndsFromAnyState) {
    PageControl control;
    PageControl::PageRequest request;
    request.DurationMs = PageControl::kMaxDurationMs + 1;
    EXPECT_FALSE(control.Request(request)) << "a duration that would overflow the count";
    request.DurationMs = -1;
    EXPECT_FALSE(control.Request(request));
    request.DurationMs = 0;
    request.PtimeMs = 0;
    EXPECT_FALSE(control.Request(request));
    request.PtimeMs = 20;
    request.Law = 1;
    EXPECT_FALSE(control.Request(request));
    request.Law = 6;
    request.Device[0] = '\0';
    EXPECT_FALSE(control.Request(request));
    std::memset(request.Device, 'x', sizeof request.Device);
    EXPECT_FALSE(control.Request(request)) << "a name without its end";
    std::strcpy(request.Device, "default");
    EXPECT_EQ(control.State(), PageState::kIdle);

    ASSERT_TRUE(control.Request(request));
    EXPECT_FALSE(control.Request(request)) << "one page at a time";
    control.End();
    EXPECT_EQ(control.State(), PageState::kEnding);
    EXPECT_FALSE(control.GoLive()) << "ended before it went on the air";
    control.Finish("");
    EXPECT_EQ(control.State(), PageState::kIdle);
    control.End();
    EXPECT_EQ(control.State(), PageState::kIdle) << "nothing to end";
    ASSERT_TRUE(control.Request(request));
    EXPECT_TRUE(control.GoLive());
    control.End();
    control.Finish("the capture device \"default\" has gone");
    EXPECT_EQ(control.Failure(), "the capture device \"default\" has gone");
}

TEST(PageLatency, PercentilesNeverUnderstateAndAnOutlierOnlyMovesTheTail) {
    PageLatency latency;
    EXPECT_EQ(latency.Summarise().count, 0u);
    for (int i = 0; i < 990; ++i) {
        latency.Record(1234567);  // 1.23 ms: the 1.2-1.3 ms bin
    }
    for (int i = 0; i < 10; ++i) {
        latency.Record(-5);  // a clock read before the capture time counts as none
    }
    latency.Record(3000000000);  // 3 s, past the last bin
    const PageLatency::Summary s = latency.Summarise();
    EXPECT_EQ(s.count, 1001u);
    EXPECT_EQ(s.medianUs, 1300);
    EXPECT_EQ(s.p95Us, 1300);
    EXPECT_EQ(s.p99Us, 1300);
    EXPECT_EQ(s.maxUs, 3000000);
    latency.Reset();
    latency.Record(40000);
    EXPECT_EQ(latency.Summarise().medianUs, 40);  // never above the largest seen
}
