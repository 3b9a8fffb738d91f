// Polycom group paging as a receiver in the test meets it on the wire: `sonvex-cli stream`, and
// `sonvex-cli serve` through a takeover, page the group 224.0.1.116:5001 inside a network
// namespace the test makes (loopback its only interface), where a socket joined to the group
// takes every datagram with the kernel's stamp of its arrival. The schedule is held to bounds
// a loaded host keeps, the packets' content exactly, the audio to an ideal coding of the tone.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "codec/g711.h"
#include "codec/g722.h"
#include "platform/codec/codecmedia.h"
#include "shellcommand.h"
#include "support/netnamespace.h"
#include "support/wavefile.h"
#include "support/xdgsandbox.h"

namespace {

using testsupport::Quoted;
using testsupport::Shell;

constexpr const char* kGroup = "224.0.1.116";  // the phones' default paging group
constexpr uint16_t kPort = 5001;
constexpr int kNoNamespace = 77;  // the child's status when no namespace is permitted
constexpr int kNoGroup = 78;      // when the group could not be joined on loopback
constexpr double kPeak = 12000;
constexpr int64_t kMs = 1000000;

struct Datagram {
    int64_t atNs = 0;  // the kernel's arrival stamp
    std::vector<uint8_t> bytes;
};

// The group's port, joined on loopback, every datagram stamped by the kernel; -1 on failure.
int JoinTheGroup() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    const int big = 1 << 22;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    address.sin_addr.s_addr = ::inet_addr(kGroup);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = ::inet_addr(kGroup);
    membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        return -1;
    }
    return fd;
}

// One datagram with its stamp; false when none is queued.
bool ReceiveStamped(int fd, Datagram& datagram) {
    uint8_t buffer[2048];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
    if (got < 0) {
        return false;
    }
    datagram.bytes.assign(buffer, buffer + got);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec at{};
            std::memcpy(&at, CMSG_DATA(c), sizeof at);
            datagram.atNs = at.tv_sec * 1000000000LL + at.tv_nsec;
        }
    }
    return true;
}

int64_t NowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// The child's part: runs `command` in bash inside the namespace and collects until a second
// after it exits (two minutes at most); writes every datagram to `out` as its stamp, length
// and bytes; its exit status is the command's.
int CaptureChild(const std::string& command, int out) {
    if (!testsupport::EnterLoopbackNamespace()) {
        return kNoNamespace;
    }
    const int fd = JoinTheGroup();
    if (fd < 0) {
        return kNoGroup;
    }
    const pid_t shell = ::fork();
    if (shell == 0) {
        ::execl("/bin/bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::vector<Datagram> all;
    int status = -1;
    const int64_t giveUp = NowNs() + 120000 * kMs;
    for (int64_t until = giveUp; NowNs() < until;) {
        pollfd poller{fd, POLLIN, 0};
        ::poll(&poller, 1, 50);
        for (Datagram d; ReceiveStamped(fd, d);) {
            all.push_back(d);
        }
        if (status < 0 && ::waitpid(shell, &status, WNOHANG) == shell) {
            until = NowNs() + 1000 * kMs;
        } else if (status < 0 && NowNs() >= giveUp - 50 * kMs) {
            ::kill(shell, SIGKILL);
        }
    }
    for (const Datagram& d : all) {
        const auto length = static_cast<uint32_t>(d.bytes.size());
        if (::write(out, &d.atNs, sizeof d.atNs) != sizeof d.atNs ||
            ::write(out, &length, sizeof length) != sizeof length ||
            ::write(out, d.bytes.data(), length) != static_cast<ssize_t>(length)) {
            return 1;
        }
    }
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

bool ReadAll(int fd, void* data, size_t size) {
    auto* at = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, at, size);
        if (got <= 0) {
            return false;
        }
        at += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// What a command sent to the group, run in a forked child inside a namespace of its own; the
// child's exit status beside it.
int CaptureInNamespace(const std::string& command, std::vector<Datagram>& all) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        ::_exit(CaptureChild(command, pipe[1]));
    }
    ::close(pipe[1]);
    for (Datagram d;;) {
        uint32_t length = 0;
        if (!ReadAll(pipe[0], &d.atNs, sizeof d.atNs) || !ReadAll(pipe[0], &length, 4)) {
            break;
        }
        d.bytes.resize(length);
        if (!ReadAll(pipe[0], d.bytes.data(), length)) {
            break;
        }
        all.push_back(d);
    }
    ::close(pipe[0]);
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One session as a phone follows it: the Alerts, Transmits and Ends of one channel and serial.
struct SessionSeen {
    int channel = 0;
    uint32_t serial = 0;
    std::string caller;
    std::vector<int64_t> alerts;
    std::vector<Datagram> transmits;
    std::vector<int64_t> ends;
};

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

std::vector<SessionSeen> Sessions(const std::vector<Datagram>& all) {
    std::vector<SessionSeen> sessions;
    for (const Datagram& d : all) {
        if (d.bytes.size() < 20) {
            continue;
        }
        const uint8_t op = d.bytes[0];
        const uint32_t serial = Be32(d.bytes.data() + 2);
        // A new session: another channel or serial, or Alerts again after Ends.
        if (sessions.empty() || sessions.back().channel != d.bytes[1] ||
            sessions.back().serial != serial || (op == 0x0F && !sessions.back().ends.empty())) {
            SessionSeen s;
            s.channel = d.bytes[1];
            s.serial = serial;
            s.caller.assign(reinterpret_cast<const char*>(d.bytes.data() + 7),
                            ::strnlen(reinterpret_cast<const char*>(d.bytes.data() + 7), 13));
            sessions.push_back(s);
        }
        SessionSeen& s = sessions.back();
        if (op == 0x0F) {
            s.alerts.push_back(d.atNs);
        } else if (op == 0x10) {
            s.transmits.push_back(d);
        } else if (op == 0xFF) {
            s.ends.push_back(d.atNs);
        }
    }
    return sessions;
}

std::vector<double> GapsMs(const std::vector<int64_t>& at) {
    std::vector<double> gaps;
    for (size_t i = 1; i < at.size(); ++i) {
        gaps.push_back(static_cast<double>(at[i] - at[i - 1]) / kMs);
    }
    return gaps;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                     values.end());
    return values[values.size() / 2];
}

// The spacing of one kind of packet: the median within 2 ms of the period, nine in ten gaps
// within 10 ms of it (the host may stall the sender now and then, never steadily).
void ExpectSpacing(const char* what, const std::vector<int64_t>& at, double periodMs) {
    const std::vector<double> gaps = GapsMs(at);
    ASSERT_FALSE(gaps.empty()) << what;
    const auto off = std::count_if(
        gaps.begin(), gaps.end(), [periodMs](double gap) { return std::abs(gap - periodMs) > 10; });
    std::printf("%s: %zu, median spacing %.2f ms, %zd of %zu gaps off by more than 10 ms\n", what,
                at.size(), Median(gaps), off, gaps.size());
    EXPECT_NEAR(Median(gaps), periodMs, 2.0) << what;
    EXPECT_LE(off * 10, static_cast<long>(gaps.size())) << what;
}

std::vector<int64_t> Stamps(const std::vector<Datagram>& all) {
    std::vector<int64_t> at;
    for (const Datagram& d : all) {
        at.push_back(d.atNs);
    }
    return at;
}

// A session's audio: each Transmit's current frame decoded, in order (G.722 at 16 kHz).
std::vector<int16_t> Audio(const SessionSeen& s) {
    std::vector<int16_t> pcm;
    G722Decoder g722;
    for (const Datagram& t : s.transmits) {
        const uint8_t* frame = t.bytes.data() + t.bytes.size() - 160;
        int16_t out[320];
        const bool wide = t.bytes[20] == 9;
        if (wide) {
            g722.Decode(frame, 160, out);
        } else {
            G711DecodeMulaw(frame, out, 160);
        }
        pcm.insert(pcm.end(), out, out + (wide ? 320 : 160));
    }
    return pcm;
}

// The 1020 Hz tone's level and SNR in the audio, beside an ideal coding of the same tone.
void ExpectTheTone(const std::vector<int16_t>& got, bool wide, const char* what) {
    const uint32_t rate = wide ? 16000 : 8000;
    ASSERT_GT(got.size(), rate) << what;
    std::vector<int16_t> ideal(got.size());
    for (size_t n = 0; n < ideal.size(); ++n) {
        ideal[n] = testsupport::SineSample(n, rate, 1020, kPeak);
    }
    if (wide) {
        G722Encoder encoder;
        G722Decoder decoder;
        std::vector<uint8_t> codes(ideal.size() / 2);
        encoder.Encode(ideal.data(), ideal.size(), codes.data());
        decoder.Decode(codes.data(), codes.size(), ideal.data());
    } else {
        for (int16_t& v : ideal) {
            v = G711MulawToLinear(G711LinearToMulaw(v));
        }
    }
    const codecmedia::ToneFit fit = codecmedia::FitTone(got, rate, 1020, rate / 4);
    const codecmedia::ToneFit best = codecmedia::FitTone(ideal, rate, 1020, rate / 4);
    std::printf("%s, 1020 Hz: level %.2f dB, SNR %.1f dB (ideal coding %.1f dB)\n", what,
                20 * std::log10(fit.amplitude / kPeak), fit.snrDb, best.snrDb);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / kPeak), 0.0, 1.0) << what;
    EXPECT_GT(fit.snrDb, best.snrDb - 1.0) << what;
}

class PolycomWireTest : public XdgSandbox {
protected:
    void SetUp() override {
        XdgSandbox::SetUp();
        const auto threads = std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                           std::filesystem::directory_iterator());
        if (threads > 1) {
            GTEST_SKIP() << "other threads run in this process; ctest runs the test alone";
        }
    }
    // A tone file of `seconds` at `hz`, at `rate`.
    std::string Tone(const char* name, uint32_t rate, double hz, double seconds) {
        const std::string path = (m_dir / name).string();
        EXPECT_TRUE(testsupport::WriteWave(
            path, 1, 1, rate, 16,
            testsupport::SinePcm16(static_cast<uint32_t>(rate * seconds), 1, rate, hz, kPeak)));
        return path;
    }
    // The sessions the command sent; skips the test where no namespace is permitted.
    void Capture(const std::string& command, std::vector<SessionSeen>& sessions) {
        std::vector<Datagram> all;
        const int status = CaptureInNamespace(command, all);
        if (status == kNoNamespace) {
            GTEST_SKIP() << "no network namespace permitted";
        }
        EXPECT_NE(status, kNoGroup) << "the group could not be joined on loopback";
        EXPECT_EQ(status, 0) << "the command failed: " << command;
        sessions = Sessions(all);
    }
    const std::string m_cli = Quoted(SONVEX_CLI_PATH);
    const std::string m_dest = std::string(" ") + kGroup + " " + std::to_string(kPort) +
                               " --iface lo --mode polycom --serial 305419896";
};

}  // namespace

// One stream, one session: 31 Alerts 30 ms apart, the first Transmit 64 ms after the last, 20 ms
// between Transmits, each repeating the previous packet's frame, the sample count stepping 160,
// 12 Ends 30 ms apart the first 50 ms after the audio; the tone decoded from the frames.
class PolycomStreamTest : public PolycomWireTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PolycomStreamTest, OneSessionKeepsItsScheduleAndCarriesTheTone) {
    const bool wide = GetParam();
    const std::string tone = Tone("tone.wav", wide ? 16000 : 8000, 1020, 3);
    ASSERT_EQ(Shell(m_cli + " create phones"), 0);
    ASSERT_EQ(
        Shell(m_cli + " add-file phones " + Quoted(tone) + " --law " + (wide ? "g722" : "mu")), 0);
    ASSERT_EQ(Shell(m_cli + " add-dest phones" + m_dest + " --channel 26 --caller 'Front desk'"),
              0);
    std::vector<SessionSeen> sessions;
    Capture(m_cli + " stream phones >/dev/null", sessions);
    if (IsSkipped()) {
        return;
    }
    ASSERT_EQ(sessions.size(), 1u);
    const SessionSeen& s = sessions[0];
    EXPECT_EQ(s.channel, 26);
    EXPECT_EQ(s.serial, 305419896u);
    EXPECT_EQ(s.caller, "Front desk");
    ASSERT_EQ(s.alerts.size(), 31u);
    ASSERT_EQ(s.ends.size(), 12u);
    ASSERT_GE(s.transmits.size(), 140u);  // 3 s: 150 frames
    ASSERT_LE(s.transmits.size(), 151u);
    ExpectSpacing("alerts", s.alerts, 30);
    ExpectSpacing("transmits", Stamps(s.transmits), 20);
    ExpectSpacing("ends", s.ends, 30);
    const double toAudioMs = static_cast<double>(s.transmits.front().atNs - s.alerts.back()) / kMs;
    const double toEndMs = static_cast<double>(s.ends.front() - s.transmits.back().atNs) / kMs;
    std::printf(
        "first transmit %.2f ms after the last alert, first end %.2f ms after the last "
        "transmit\n",
        toAudioMs, toEndMs);
    EXPECT_GE(toAudioMs, 58);
    EXPECT_LE(toAudioMs, 80);
    EXPECT_GE(toEndMs, 44);
    EXPECT_LE(toEndMs, 70);
    for (size_t k = 0; k < s.transmits.size(); ++k) {
        SCOPED_TRACE(k);
        const std::vector<uint8_t>& p = s.transmits[k].bytes;
        ASSERT_EQ(p.size(), k == 0 ? 186u : 346u);
        EXPECT_EQ(p[20], wide ? 9 : 0);
        if (k > 0) {
            const std::vector<uint8_t>& before = s.transmits[k - 1].bytes;
            EXPECT_EQ(Be32(p.data() + 22) - Be32(before.data() + 22), 160u);
            EXPECT_TRUE(std::equal(p.begin() + 26, p.begin() + 186, before.end() - 160))
                << "the redundant frame is not the previous packet's";
        }
    }
    ExpectTheTone(Audio(s), wide, wide ? "Polycom G.722" : "Polycom mu-law");
}

INSTANTIATE_TEST_SUITE_P(Codecs, PolycomStreamTest, ::testing::Bool(),
                         [](const auto& named) { return named.param ? "G722" : "Mulaw"; });

namespace {

// Which tone each Transmit's frame carries: 'M' the music's 400 Hz, 'N' the notice's 1020 Hz,
// '.' neither clearly (silence, or a frame across the switch).
std::string FrameTones(const SessionSeen& s) {
    std::string tones;
    for (const Datagram& t : s.transmits) {
        std::vector<int16_t> pcm(160);
        G711DecodeMulaw(t.bytes.data() + t.bytes.size() - 160, pcm.data(), 160);
        const bool music = codecmedia::FitTone(pcm, 8000, 400, 0).snrDb > 10;
        const bool notice = codecmedia::FitTone(pcm, 8000, 1020, 0).snrDb > 10;
        tones += music == notice ? '.' : music ? 'M' : 'N';
    }
    return tones;
}

// The tones in the order they came, each run of fewer than five frames left out: "MNM".
std::string Runs(const std::string& tones) {
    std::string runs;
    for (size_t at = 0; at < tones.size();) {
        const size_t end = std::min(tones.find_first_not_of(tones[at], at), tones.size());
        if (tones[at] != '.' && end - at >= 5 && (runs.empty() || runs.back() != tones[at])) {
            runs += tones[at];
        }
        at = end;
    }
    return runs;
}

// The frames of the longest run of the notice's tone, as one Transmit each.
SessionSeen NoticeFrames(const SessionSeen& s) {
    const std::string tones = FrameTones(s);
    size_t best = 0;
    size_t bestLength = 0;
    for (size_t at = tones.find('N'); at != std::string::npos; at = tones.find('N', at)) {
        const size_t end = std::min(tones.find_first_not_of('N', at), tones.size());
        if (end - at > bestLength) {
            best = at;
            bestLength = end - at;
        }
        at = end;
    }
    SessionSeen notice;
    notice.transmits.assign(s.transmits.begin() + static_cast<long>(best),
                            s.transmits.begin() + static_cast<long>(best + bestLength));
    return notice;
}

}  // namespace

// The server plays music (priority 10, muted while interrupted) to a Polycom destination; an
// announcement of priority 60 (1.5 s of 1020 Hz, played once) takes it over, then gives it back. On
// the channel alone (false) the session goes on through both changes of holder, its one End burst
// at the stop; following the holder's priority (true) the notice has a session of its own on the
// range's priority channel 49 between the music's two on 26, each whole: Alerts, the holder's
// audio, Ends.
class ServeTakeoverTest : public PolycomWireTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ServeTakeoverTest, TheNoticeTakesThePhonesOverAndGivesThemBack) {
    const bool follow = GetParam();
    ASSERT_EQ(Shell(m_cli + " create Music"), 0);
    ASSERT_EQ(Shell(m_cli + " add-file Music " + Quoted(Tone("music.wav", 8000, 400, 30))), 0);
    ASSERT_EQ(Shell(m_cli + " set Music --interrupted mute"), 0);
    ASSERT_EQ(Shell(m_cli + " create Notice"), 0);
    ASSERT_EQ(Shell(m_cli + " add-file Notice " + Quoted(Tone("notice.wav", 8000, 1020, 1.5))), 0);
    ASSERT_EQ(Shell(m_cli + " set Notice --role announcement --priority 60"), 0);
    for (const char* playlist : {"Music", "Notice"}) {
        ASSERT_EQ(Shell(m_cli + " add-dest " + playlist + m_dest + " --channel 26" +
                        (follow ? " --follow-priority" : "")),
                  0);
    }
    std::vector<SessionSeen> sessions;
    Capture("bash " + Quoted(SONVEX_TAKEOVER_SCRIPT) + " " + m_cli, sessions);
    if (IsSkipped()) {
        return;
    }
    std::string seen;
    std::string tones;
    for (const SessionSeen& s : sessions) {
        seen += " " + std::to_string(s.channel) + ":" + Runs(FrameTones(s));
        tones += " " + FrameTones(s);
        std::printf("session on channel %d: %zu alerts, %zu transmits (%s), %zu ends\n", s.channel,
                    s.alerts.size(), s.transmits.size(), Runs(FrameTones(s)).c_str(),
                    s.ends.size());
    }
    EXPECT_EQ(seen, follow ? " 26:M 49:N 26:M" : " 26:MNM") << "frame by frame:" << tones;
    for (const SessionSeen& s : sessions) {
        EXPECT_EQ(s.alerts.size(), 31u) << s.channel;
        EXPECT_EQ(s.ends.size(), 12u) << s.channel;
        EXPECT_EQ(s.serial, 305419896u);
    }
    ASSERT_EQ(sessions.size(), follow ? 3u : 1u);
    // The notice whole and clean: 75 frames, none lost to the switch.
    const SessionSeen notice = NoticeFrames(sessions[follow ? 1 : 0]);
    EXPECT_GE(notice.transmits.size(), 72u);
    EXPECT_LE(notice.transmits.size(), 76u);
    ExpectTheTone(Audio(notice), false,
                  follow ? "notice on its own channel" : "notice in the session");
    if (follow) {
        // The music's session ends before the notice's begins: the phones hear one at a time.
        EXPECT_LT(sessions[0].ends.back(), sessions[1].alerts.front());
        EXPECT_LT(sessions[1].ends.back(), sessions[2].alerts.front());
    }
}

INSTANTIATE_TEST_SUITE_P(Channels, ServeTakeoverTest, ::testing::Bool(), [](const auto& named) {
    return named.param ? "FollowingPriority" : "OnItsChannel";
});
