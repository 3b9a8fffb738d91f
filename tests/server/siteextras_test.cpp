// What a server sends besides the packets, on a clock the test drives: RTCP sender reports to
// a speaker on 127.0.0.1 through a change of holder and codec, and SAP announcements of a
// multicast speaker inside a network namespace the test makes (loopback its only interface),
// each naming the payload type on the air.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "enginetestsupport.h"
#include "playlist/outputcodec.h"
#include "server/siteengine.h"
#include "support/faketicksource.h"
#include "support/netnamespace.h"

namespace {

using testsupport::FakeTickSource;
constexpr int64_t kSecond = 1000 * FakeTickSource::kMs;

uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
    return static_cast<uint32_t>(d[at]) << 24 | static_cast<uint32_t>(d[at + 1]) << 16 |
           static_cast<uint32_t>(d[at + 2]) << 8 | d[at + 3];
}

// The RTCP packet types of a compound datagram, in order ("200,202,203").
std::string PacketTypes(const std::vector<uint8_t>& d) {
    std::string types;
    for (size_t at = 0; at + 4 <= d.size();) {
        types += (types.empty() ? "" : ",") + std::to_string(d[at + 1]);
        at += (static_cast<size_t>(d[at + 2]) << 8 | d[at + 3]) * 4 + 4;
    }
    return types;
}

// A socket on `port` of every address that joined `group` on loopback (inside the test's
// namespace only); -1 when it cannot be made.
int JoinOnLoopback(const char* group, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = ::inet_addr(group);
    membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    const int big = 1 << 22;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        return -1;
    }
    return fd;
}

std::vector<std::vector<uint8_t>> TakeAll(int fd) {
    std::vector<std::vector<uint8_t>> all;
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0) {
            return all;
        }
        all.emplace_back(buffer.begin(), buffer.begin() + got);
    }
}

// One SAP datagram as the test reads it.
struct Sap {
    bool deletion = false;
    std::string sdp;
    std::string payloadType;  // the m= line's
    std::string session;      // o= session id
    std::string version;      // o= version
};

Sap ReadSap(const std::vector<uint8_t>& d) {
    Sap sap;
    const std::string text(d.begin() + std::min<size_t>(d.size(), 8), d.end());
    sap.deletion = !d.empty() && (d[0] & 0x04) != 0;
    const size_t body = text.find("v=0\r\n");
    sap.sdp = body == std::string::npos ? std::string() : text.substr(body);
    const size_t origin = sap.sdp.find("o=- ");
    const size_t media = sap.sdp.find(" RTP/AVP ");
    if (origin != std::string::npos && media != std::string::npos) {
        const size_t id = origin + 4;
        const size_t version = sap.sdp.find(' ', id) + 1;
        sap.session = sap.sdp.substr(id, version - 1 - id);
        sap.version = sap.sdp.substr(version, sap.sdp.find(' ', version) - version);
        sap.payloadType = sap.sdp.substr(media + 9, sap.sdp.find('\r', media) - media - 9);
    }
    return sap;
}

class SiteExtrasTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (probe.Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
    }
    // A tone of `seconds` at `hz`, sent in `format`; 16 kHz, so that G.722 keeps its band.
    Playlist Tone(const char* name, double hz, double seconds, int format) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WritePcmWav(path, 16000, 1, seconds, hz, 12000));
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(probe, path, format, 20, entry));
        Playlist playlist;
        playlist.AppendFile(entry);
        return playlist;
    }
    static SiteSource::Settings Setup(const char* name, int priority,
                                      std::vector<RtpDestination> to) {
        SiteSource::Settings s;
        s.name = name;
        s.priority = priority;
        s.duck = false;
        s.destinations = std::move(to);
        return s;
    }
    // 12 s of music in mu-law from time 0; at 6 s a G.722 notice of 8 s takes the destinations
    // over, the music held meanwhile; once the music is over the server stops. False when the
    // run did not end within a minute of real time.
    bool MusicThenNotice(SiteEngine& engine, FakeTickSource& clock,
                         const std::vector<RtpDestination>& to) {
        auto music = std::make_unique<PlaylistRun>(
            Setup("Music", 10, to), Tone("music.wav", 400, 12, kFormatMulaw), false, 20, 0);
        auto notice = std::make_shared<std::unique_ptr<SiteSource>>(std::make_unique<PlaylistRun>(
            Setup("Notice", 50, to), Tone("notice.wav", 1000, 8, kFormatG722), false, 20, 0));
        if (!music->Open() || !static_cast<PlaylistRun&>(**notice).Open()) {
            return false;
        }
        // On the worker, as its clock passes 6 s.
        clock.At(6 * kSecond, [&engine, notice] { engine.Add(std::move(*notice)); });
        const uint64_t musicId = engine.Add(std::move(music));  // before the worker runs
        if (!engine.Start()) {
            return false;
        }
        for (int k = 0; k < 6000; ++k) {
            for (const SiteEngine::Event& e : engine.TakeEvents()) {
                if (e.id == musicId && e.kind == SiteEngine::Event::Kind::kFinished) {
                    engine.Stop();
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        engine.Stop();
        return false;
    }

    // The SAP test's body, in a child process; its exit status.
    int AnnounceInANamespace();

    WinSonvex probe;
    TempDir dir;
};

// Sender reports of the destination's one stream: its SSRC, on the sender's clock through the
// change of holder and codec (G.722 steps 160 a packet too), every 2.5-7.5 s during the
// notice as before it, and one BYE, in the last report, at stop. A Polycom destination of the
// same sources hears no RTP, so no reports.
TEST_F(SiteExtrasTest, ReportsOneStreamThroughATakeoverAndSayByeOnceAtStop) {
    using testsupport::LoopbackReceiver;
    std::unique_ptr<LoopbackReceiver> rtp;
    std::unique_ptr<LoopbackReceiver> rtcp;
    std::unique_ptr<LoopbackReceiver> pager;
    std::unique_ptr<LoopbackReceiver> pagerRtcp;
    for (int tries = 0; tries < 20 && !(rtcp && rtcp->Ok() && pagerRtcp && pagerRtcp->Ok());
         ++tries) {
        rtp = std::make_unique<LoopbackReceiver>();
        rtcp = std::make_unique<LoopbackReceiver>(static_cast<uint16_t>(rtp->Port() + 1));
        pager = std::make_unique<LoopbackReceiver>();
        pagerRtcp = std::make_unique<LoopbackReceiver>(static_cast<uint16_t>(pager->Port() + 1));
    }
    ASSERT_TRUE(rtcp->Ok() && pagerRtcp->Ok()) << "no free pairs of ports";
    RtpDestination polycom = RtpDestination::FromOctets(127, 0, 0, 1, pager->Port());
    polycom.Mode = kModePolycom;
    FakeTickSource clock;
    SiteEngine engine(20, clock);
    Transmitter::Extras extras;
    extras.rtcp = true;
    engine.SetExtras(extras);
    ASSERT_TRUE(MusicThenNotice(engine, clock,
                                {RtpDestination::FromOctets(127, 0, 0, 1, rtp->Port()), polycom}));

    std::vector<RtpPacket> packets;
    for (const auto& d : rtp->TakeAll()) {
        RtpPacket p;
        p.payloadType = d[1] & 0x7F;
        p.sequence = static_cast<uint16_t>(d[2] << 8 | d[3]);
        p.timestamp = Be32(d, 4);
        p.ssrc = Be32(d, 8);
        packets.push_back(p);
    }
    ASSERT_GT(packets.size(), 900U);  // 20 s
    const uint32_t ssrc = packets[0].ssrc;
    std::string codecs;
    for (size_t k = 1; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(packets[k].ssrc, ssrc);
        // Every tick had a holder: the clock moved one packet's 160 instants, whichever codec.
        EXPECT_EQ(packets[k].timestamp - packets[k - 1].timestamp, 160U);
        if (codecs.empty() || codecs.back() != static_cast<char>('0' + packets[k].payloadType)) {
            codecs += static_cast<char>('0' + packets[k].payloadType);
        }
    }
    EXPECT_EQ(codecs, "090");  // music, the G.722 notice, music

    const auto reports = rtcp->TakeAll();
    ASSERT_GE(reports.size(), 4U);  // 20 s: one every 7.5 s at most, and the last
    const auto wallAt = [](const std::vector<uint8_t>& d) {
        const uint64_t ntp = static_cast<uint64_t>(Be32(d, 8)) << 32 | Be32(d, 12);
        return static_cast<double>(ntp) / 4294967296.0 - 2208988800.0 -
               static_cast<double>(FakeTickSource::kWallAtZeroNs) / 1e9;
    };
    bool duringNotice = false;
    for (size_t r = 0; r < reports.size(); ++r) {
        SCOPED_TRACE(r);
        const auto& d = reports[r];
        const bool last = r + 1 == reports.size();
        ASSERT_GE(d.size(), 28U);
        EXPECT_EQ(PacketTypes(d), last ? "200,202,203" : "200,202");
        EXPECT_EQ(Be32(d, 4), ssrc);
        // The report's RTP time is the sender's clock at its instant: it moves as the wall
        // clock does, and at a tick it is a packet's own timestamp.
        const double at = wallAt(d);
        const uint32_t rtpTime = Be32(d, 16);
        EXPECT_NEAR(static_cast<uint32_t>(rtpTime - Be32(reports[0], 16)) / 8e3,
                    at - wallAt(reports[0]), 0.001);
        if (!last) {
            EXPECT_EQ((rtpTime - packets[0].timestamp) % 160, 0U);
        }
        duringNotice = duringNotice || (at > 6.0 && at < 14.0);
        if (r > 0 && !last) {
            const double gap = at - wallAt(reports[r - 1]);
            EXPECT_GE(gap, 2.5 - 0.001);
            EXPECT_LE(gap, 7.5 + 0.001);
        }
        if (last) {
            EXPECT_EQ(Be32(d, 20), packets.size()) << "the count of what left";
        }
    }
    EXPECT_TRUE(duringNotice) << "no report while the notice held the destination";
    EXPECT_TRUE(pagerRtcp->TakeAll().empty()) << "a Polycom destination was reported";
}

// The steps of the namespace child; its exit status names the first that failed.
const char* const kSapSteps[] = {
    "",
    "the sockets that hear the group and its announcements could not be made",
    "the server did not play its sources to their end",
    "no RTP reached the group",
    "the announcements did not follow the codec on the air: mu-law, G.722, mu-law again",
    "an announcement did not describe the stream: its SSRC, name, group and rtpmap",
    "not one deletion, last, of the description announced last",
};

// The SDP of every announcement names the payload type on the air, a new o= version at each
// change, and the stream is deleted once at stop.
int SiteExtrasTest::AnnounceInANamespace() {
    if (!testsupport::EnterLoopbackNamespace()) {
        return 77;
    }
    const int announcements = JoinOnLoopback("239.255.255.255", 9875);
    const int group = JoinOnLoopback("239.255.18.1", 5004);
    if (announcements < 0 || group < 0) {
        return 1;
    }
    RtpDestination to = RtpDestination::FromOctets(239, 255, 18, 1, 5004);
    to.Ttl = 1;
    std::strcpy(to.Interface, "lo");
    FakeTickSource clock;
    SiteEngine engine(20, clock);
    Transmitter::Extras extras;
    extras.sap = kSapGroups;
    extras.name = "Front desk paging";
    engine.SetExtras(extras);
    if (!MusicThenNotice(engine, clock, {to})) {
        return 2;
    }
    const auto rtp = TakeAll(group);
    if (rtp.empty() || rtp[0].size() < 12) {
        return 3;
    }
    const std::string ssrc = std::to_string(Be32(rtp[0], 8));
    std::vector<Sap> heard;
    for (const auto& d : TakeAll(announcements)) {
        heard.push_back(ReadSap(d));
    }
    std::string codecs;
    std::string version;
    for (const Sap& sap : heard) {
        std::fprintf(stderr, "%s %s %s\n", sap.deletion ? "deletion" : "announcement",
                     sap.payloadType.c_str(), sap.version.c_str());
        if (sap.deletion) {
            continue;
        }
        if (codecs.empty() || sap.payloadType != codecs.substr(codecs.rfind(' ') + 1)) {
            if (!version.empty() && std::stoull(sap.version) <= std::stoull(version)) {
                return 4;  // a new description with no newer version
            }
            codecs += " " + sap.payloadType;
        } else if (sap.version != version) {
            return 4;  // the same description, yet another version
        }
        version = sap.version;
        const std::string rtpmap =
            sap.payloadType == "9" ? "a=rtpmap:9 G722/8000\r\n" : "a=rtpmap:0 PCMU/8000\r\n";
        if (sap.session != ssrc ||
            sap.sdp.find("\r\ns=Front desk paging\r\n") == std::string::npos ||
            sap.sdp.find("\r\nc=IN IP4 239.255.18.1/1\r\n") == std::string::npos ||
            sap.sdp.find(rtpmap) == std::string::npos) {
            std::fprintf(stderr, "%s", sap.sdp.c_str());
            return 5;
        }
    }
    if (codecs != " 0 9 0") {
        return 4;
    }
    const auto deletions =
        std::count_if(heard.begin(), heard.end(), [](const Sap& sap) { return sap.deletion; });
    if (deletions != 1 || !heard.back().deletion || heard.size() < 2 ||
        heard.back().sdp != heard[heard.size() - 2].sdp) {
        return 6;
    }
    return 0;
}

// Multicast only inside a namespace of the test's own, whose one interface is loopback.
TEST_F(SiteExtrasTest, AnnouncesTheCodecOnTheAirAndDeletesTheStreamAtStop) {
    const auto threads = std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                       std::filesystem::directory_iterator());
    if (threads > 1) {
        // A child forked from them may not start threads of its own (ThreadSanitizer says so).
        GTEST_SKIP() << "other threads run in this process; ctest runs the test alone";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(AnnounceInANamespace());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child did not exit";
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no network namespace permitted";
    }
    ASSERT_LT(static_cast<size_t>(WEXITSTATUS(status)), std::size(kSapSteps));
    EXPECT_EQ(WEXITSTATUS(status), 0) << kSapSteps[WEXITSTATUS(status)];
}

}  // namespace
