// What `sonvex-cli stream` sends, played by a receiver nobody here wrote: ffmpeg records the
// stream its SDP file describes, and the recording is the source tone at its level, as clean
// as an ideal mu-law encoding of it. Unicast goes to 127.0.0.1; the multicast group only
// inside a network namespace the test makes, whose one interface is loopback.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codec/codecmedia.h"
#include "support/mulaw.h"
#include "support/wavefile.h"
#include "support/xdgsandbox.h"

namespace {

constexpr uint32_t kRate = 8000;
constexpr double kToneHz = 997;  // shares no period with the sample rate
constexpr double kPeak = 12000;
constexpr int kRecordSeconds = 3;

// A UDP port nobody on 127.0.0.1 holds now.
uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The 16-bit samples of the WAV file's data chunk; empty when there is none.
std::vector<int16_t> Samples(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = testsupport::ReadFile(path);
    std::vector<int16_t> samples;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = testsupport::GetU32(bytes, at + 4);
        if (std::equal(bytes.begin() + static_cast<long>(at),
                       bytes.begin() + static_cast<long>(at) + 4, "data")) {
            for (size_t i = at + 8; i + 1 < bytes.size() && i + 1 < at + 8 + size; i += 2) {
                samples.push_back(static_cast<int16_t>(testsupport::GetU16(bytes, i)));
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

class StreamReceiverTest : public XdgSandbox {
protected:
    // Streams a tone to `address` and records it with ffmpeg; `wrap` runs the recording
    // script (in a namespace of its own, say).
    std::vector<int16_t> Record(const std::string& address, const std::string& wrap,
                                const std::string& scriptFlags) {
        const std::string tone = (m_dir / "tone.wav").string();
        EXPECT_TRUE(testsupport::WriteWave(
            tone, 1, 1, kRate, 16,
            testsupport::SinePcm16(kRate * (kRecordSeconds + 6), 1, kRate, kToneHz, kPeak)));
        const std::string cli = Quoted(SONVEX_CLI_PATH);
        const std::string port = std::to_string(FreePort());
        EXPECT_EQ(Shell(cli + " create tone"), 0);
        EXPECT_EQ(Shell(cli + " add-file tone " + Quoted(tone)), 0);
        EXPECT_EQ(Shell(cli + " add-dest tone " + address + " " + port), 0);
        EXPECT_EQ(Shell(cli + " sdp tone -o " + Quoted(m_dir.string()) + " >/dev/null"), 0);
        const std::filesystem::path recording = m_dir / "recording.wav";
        EXPECT_EQ(Shell(wrap + " bash " + Quoted(SONVEX_RECORD_SCRIPT) + " " + cli + " tone " +
                        Quoted((m_dir / "tone-1.sdp").string()) + " " + Quoted(recording.string()) +
                        " " + std::to_string(kRecordSeconds) + " " + scriptFlags + " >/dev/null"),
                  0);
        return Samples(recording);
    }

    // The recording against the source tone: its level within 1 dB, and its signal-to-noise
    // ratio within 1 dB of the source's own after an ideal mu-law encoding.
    static void ExpectTheTone(const std::vector<int16_t>& recorded) {
        ASSERT_GE(recorded.size(), kRate * (kRecordSeconds - 1)) << "too little was received";
        std::vector<int16_t> ideal;
        for (size_t n = 0; n < recorded.size(); ++n) {
            ideal.push_back(static_cast<int16_t>(testsupport::MulawToLinear(
                testsupport::MulawEncode(testsupport::SineSample(n, kRate, kToneHz, kPeak)))));
        }
        // The edges are left out: the receiver may catch the stream mid-packet.
        const size_t edge = kRate / 4;
        const codecmedia::ToneFit got = codecmedia::FitTone(recorded, kRate, kToneHz, edge);
        const codecmedia::ToneFit best = codecmedia::FitTone(ideal, kRate, kToneHz, edge);
        EXPECT_NEAR(20 * std::log10(got.amplitude / kPeak), 0.0, 1.0) << got.amplitude;
        EXPECT_GT(got.snrDb, best.snrDb - 1.0) << "ideal " << best.snrDb;
    }
};

TEST_F(StreamReceiverTest, FfmpegPlaysTheUnicastStreamAsTheSourceTone) {
    ExpectTheTone(Record("127.0.0.1", "", ""));
}

TEST_F(StreamReceiverTest, FfmpegPlaysAMulticastGroupInsideANetworkNamespace) {
    if (Shell("unshare --net true 2>/dev/null") != 0 || Shell("command -v ip >/dev/null") != 0) {
        GTEST_SKIP() << "network namespaces are not permitted here";
    }
    ExpectTheTone(Record("239.255.18.1", "unshare --net", "--isolated"));
}

}  // namespace
