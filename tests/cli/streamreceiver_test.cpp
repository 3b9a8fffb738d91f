// What `sonvex-cli stream` sends, played by a receiver nobody here wrote: ffmpeg records the
// stream its SDP file describes, and the recording is the source tone at its level, as clean
// as an ideal mu-law encoding of it. Unicast goes to 127.0.0.1; the multicast group only
// inside a network namespace the test makes, whose one interface is loopback.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codec/g722.h"
#include "platform/codec/codecmedia.h"
#include "shellcommand.h"
#include "support/loopbackreceiver.h"
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

using testsupport::Quoted;
using testsupport::Shell;

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

// The lines a shell command prints.
std::vector<std::string> Lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return lines;
    }
    std::string line;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    ::pclose(pipe);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        fields.push_back(field);
    }
    return fields;
}

class StreamReceiverTest : public XdgSandbox {
protected:
    // Streams a tone to `address` and records it with ffmpeg; `wrap` runs the recording
    // script (in a namespace of its own, say).
    // `law` is add-file's --law; the tone is `hz` sampled at `rate`.
    std::vector<int16_t> Record(const std::string& address, const std::string& wrap,
                                const std::string& scriptFlags, const std::string& law = "mu",
                                uint32_t rate = kRate, double hz = kToneHz) {
        const std::string tone = (m_dir / "tone.wav").string();
        EXPECT_TRUE(testsupport::WriteWave(
            tone, 1, 1, rate, 16,
            testsupport::SinePcm16(rate * (kRecordSeconds + 6), 1, rate, hz, kPeak)));
        const std::string cli = Quoted(SONVEX_CLI_PATH);
        const std::string port = std::to_string(FreePort());
        EXPECT_EQ(Shell(cli + " create tone"), 0);
        EXPECT_EQ(Shell(cli + " add-file tone " + Quoted(tone) + " --law " + law), 0);
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

// G.722 as two receivers play it (payload type 9 at the 8 kHz RTP clock, the audio at 16 kHz):
// ffmpeg from the SDP file, GStreamer from the caps its lines make. A 1020 Hz tone and a 6 kHz
// one, each at its level and as clean as an ideal G.722 coding of the same tone, within 1 dB;
// the same 6 kHz file sent in mu-law, where the band ends at 4 kHz, arrives as near silence.
struct WidebandCase {
    const char* receiver;  // "ffmpeg" or "gstreamer"
    const char* law;       // add-file's --law
    double hz;
    double minSnrDb;  // the floor, whatever the ideal coding makes of the tone
};

// For the test's name in CTest's list.
void PrintTo(const WidebandCase& c, std::ostream* out) {
    *out << c.receiver << ' ' << c.law << ' ' << c.hz << " Hz";
}

class G722ReceiverTest : public StreamReceiverTest,
                         public ::testing::WithParamInterface<WidebandCase> {
protected:
    // The elements GStreamer needs for `law`, missing here; empty when all are installed.
    static std::string MissingElements(const std::string& law) {
        const std::vector<std::string> elements =
            law == "g722" ? std::vector<std::string>{"rtpg722depay", "avdec_g722"}
                          : std::vector<std::string>{"rtppcmudepay", "mulawdec"};
        std::string missing;
        for (const std::string& element : {std::string("rtpjitterbuffer"), std::string("wavenc")}) {
            missing +=
                Shell("gst-inspect-1.0 " + element + " >/dev/null 2>&1") == 0 ? "" : " " + element;
        }
        for (const std::string& element : elements) {
            missing +=
                Shell("gst-inspect-1.0 " + element + " >/dev/null 2>&1") == 0 ? "" : " " + element;
        }
        return missing;
    }
};

TEST_P(G722ReceiverTest, AReceiverPlaysTheWidebandStreamAsTheSourceTone) {
    constexpr uint32_t kWideRate = 16000;
    const WidebandCase c = GetParam();
    const bool gstreamer = std::string(c.receiver) == "gstreamer";
    if (gstreamer) {
        if (Shell("command -v gst-launch-1.0 >/dev/null") != 0) {
            GTEST_SKIP() << "gst-launch-1.0 is not installed";
        }
        if (const std::string missing = MissingElements(c.law); !missing.empty()) {
            GTEST_SKIP() << "GStreamer lacks" << missing << " (gstreamer1.0-libav has avdec_g722)";
        }
    }
    const std::vector<int16_t> recorded =
        Record("127.0.0.1", "", gstreamer ? "--gstreamer" : "", c.law, kWideRate, c.hz);
    if (std::string(c.law) != "g722") {
        // Recorded at 8 kHz: whatever is there, the tone's alias included, is leakage.
        ASSERT_GE(recorded.size(), kRate * (kRecordSeconds - 1)) << "too little was received";
        const double rms = codecmedia::Rms(recorded, kRate / 4, recorded.size() - kRate / 4);
        std::printf("mu-law %.0f Hz through %s: RMS %.2f (the tone %.0f)\n", c.hz, c.receiver, rms,
                    kPeak / std::sqrt(2));
        EXPECT_LT(rms, kPeak / 100) << "the tone above the narrow band came through";
        return;
    }
    ASSERT_GE(recorded.size(), kWideRate * (kRecordSeconds - 1)) << "too little was received";
    std::vector<int16_t> tone(recorded.size());
    for (size_t n = 0; n < tone.size(); ++n) {
        tone[n] = testsupport::SineSample(n, kWideRate, c.hz, kPeak);
    }
    G722Encoder encoder;
    G722Decoder decoder;
    std::vector<uint8_t> codes(tone.size() / 2);
    encoder.Encode(tone.data(), tone.size(), codes.data());
    std::vector<int16_t> ideal(codes.size() * 2);
    decoder.Decode(codes.data(), codes.size(), ideal.data());
    const size_t edge = kWideRate / 4;
    const codecmedia::ToneFit got = codecmedia::FitTone(recorded, kWideRate, c.hz, edge);
    const codecmedia::ToneFit best = codecmedia::FitTone(ideal, kWideRate, c.hz, edge);
    std::printf("G.722 %.0f Hz through %s: level %.2f dB, SNR %.1f dB (ideal coding %.1f dB)\n",
                c.hz, c.receiver, 20 * std::log10(got.amplitude / kPeak), got.snrDb, best.snrDb);
    EXPECT_NEAR(20 * std::log10(got.amplitude / kPeak), 0.0, 1.0) << got.amplitude;
    EXPECT_GT(got.snrDb, best.snrDb - 1.0) << "ideal " << best.snrDb;
    EXPECT_GT(got.snrDb, c.minSnrDb);
}

INSTANTIATE_TEST_SUITE_P(Receivers, G722ReceiverTest,
                         ::testing::Values(WidebandCase{"ffmpeg", "g722", 1020, 30},
                                           WidebandCase{"ffmpeg", "g722", 6000, 20},
                                           WidebandCase{"ffmpeg", "mu", 6000, 0},
                                           WidebandCase{"gstreamer", "g722", 1020, 30},
                                           WidebandCase{"gstreamer", "g722", 6000, 20},
                                           WidebandCase{"gstreamer", "mu", 6000, 0}),
                         [](const auto& named) {
                             return std::string(named.param.receiver) + "_" + named.param.law +
                                    "_" + std::to_string(static_cast<int>(named.param.hz)) + "Hz";
                         });

TEST_F(StreamReceiverTest, FfmpegPlaysAMulticastGroupInsideANetworkNamespace) {
    if (Shell("unshare --net true 2>/dev/null") != 0 || Shell("command -v ip >/dev/null") != 0) {
        GTEST_SKIP() << "network namespaces are not permitted here";
    }
    ExpectTheTone(Record("239.255.18.1", "unshare --net", "--isolated"));
}

// What tshark's RFC 3550 analysis makes of a stream crossing three file boundaries (files
// of 20, 40, 20 and 80 ms packets, with the silence of each open between them): the RTP
// clock follows the sending clock, so the jitter stays that of the host's wake-ups, and no
// packet is missing or out of order. Captured on loopback, which needs the privilege to
// capture; skipped without it.
TEST_F(StreamReceiverTest, TsharkSeesASteadyClockAcrossFileBoundaries) {
    if (Shell("command -v tshark >/dev/null") != 0 ||
        Shell("timeout 120 dumpcap -q -i lo -a duration:1 -w /dev/null >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no capture on loopback permitted here";
    }
    const std::string cli = Quoted(SONVEX_CLI_PATH);
    // A receiver holds the port: a closed one would refuse every other datagram.
    const testsupport::LoopbackReceiver sink;
    ASSERT_TRUE(sink.Ok());
    const std::string port = std::to_string(sink.Port());
    ASSERT_EQ(Shell(cli + " create clock"), 0);
    const int ptimes[] = {20, 40, 20, 80};
    for (size_t i = 0; i < std::size(ptimes); ++i) {
        const std::string file = (m_dir / ("part" + std::to_string(i) + ".wav")).string();
        ASSERT_TRUE(testsupport::WriteWave(
            file, 1, 1, kRate, 16,
            testsupport::SinePcm16(kRate * 7 / 10, 1, kRate, kToneHz, kPeak)));
        ASSERT_EQ(Shell(cli + " add-file clock " + Quoted(file) + " --ptime " +
                        std::to_string(ptimes[i])),
                  0);
    }
    ASSERT_EQ(Shell(cli + " add-dest clock 127.0.0.1 " + port), 0);
    const std::string capture = (m_dir / "clock.pcap").string();
    const std::string report = (m_dir / "streams.txt").string();
    // One pass over the files (2.8 s) and a little more.
    ASSERT_EQ(Shell("bash " + Quoted(SONVEX_CAPTURE_SCRIPT) + " " + cli + " clock " +
                    Quoted(capture) + " 4 'udp dst port " + port + "'"),
              0);
    ASSERT_EQ(Shell("tshark -r " + Quoted(capture) + " -d udp.port==" + port +
                    ",rtp -q -z rtp,streams > " + Quoted(report) + " 2>/dev/null"),
              0);
    // One row per stream: ... Payload Pkts Lost (%) ... Max Jitter(ms) [Problem? X].
    std::ifstream in(report);
    std::string line;
    std::string stream;
    std::vector<std::string> row;
    while (std::getline(in, line)) {
        if (line.find(" 0x") != std::string::npos && row.empty()) {  // the one stream's row
            stream = line;
            std::istringstream words(line);
            for (std::string word; words >> word;) {
                row.push_back(word);
            }
        }
    }
    ASSERT_GE(row.size(), 12u) << "no RTP stream in the capture";
    EXPECT_NE(row.back(), "X") << "tshark found sequence or timestamp errors: " << stream;
    size_t lostAt = 0;
    for (size_t i = 1; i < row.size(); ++i) {
        if (row[i].front() == '(' && row[i].back() == ')') {
            lostAt = i - 1;
        }
    }
    ASSERT_GT(lostAt, 0u);
    EXPECT_EQ(row[lostAt], "0") << "packets lost";
    EXPECT_GT(std::stoi(row[lostAt - 1]), 90) << "packets";  // 2.8 s in 20-80 ms packets
    const double maxJitterMs = std::stod(row.back() == "X" ? row[row.size() - 2] : row.back());
    EXPECT_LT(maxJitterMs, 2.0) << stream;
}

// What tshark's RTCP, SAP and SDP dissectors make of a run with reports and announcements
// on: valid sender reports whose last counts are the packets captured, the CNAME, BYE at
// the end, announcements of the stream's SDP from the sending address and their deletion;
// then ffmpeg, given the announced SDP, records the stream. `group` streams to a multicast
// group inside a network namespace of loopback alone, announced to its scope's group.
class AnnouncementTest : public StreamReceiverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AnnouncementTest, TsharkDissectsReportsAndAnnouncementsAndFfmpegPlaysTheAnnouncedSdp) {
    const bool group = GetParam();
    if (Shell("command -v tshark >/dev/null") != 0 ||
        Shell("timeout 120 dumpcap -q -i lo -a duration:1 -w /dev/null >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no capture on loopback permitted here";
    }
    std::string wrap;
    std::string flags;
    if (group) {
        if (Shell("unshare --net true 2>/dev/null") != 0 ||
            Shell("command -v ip >/dev/null") != 0) {
            GTEST_SKIP() << "network namespaces are not permitted here";
        }
        wrap = "unshare --net ";
        flags = " --isolated";
    }
    const std::string tone = (m_dir / "tone.wav").string();
    ASSERT_TRUE(testsupport::WriteWave(
        tone, 1, 1, kRate, 16,
        testsupport::SinePcm16(kRate * (kRecordSeconds + 6), 1, kRate, kToneHz, kPeak)));
    const std::string cli = Quoted(SONVEX_CLI_PATH);
    // Receivers hold the unicast ports while the capture runs (a closed port would answer
    // every datagram with ICMP); ffmpeg takes the RTP port afterwards.
    auto rtpSink = std::make_unique<testsupport::LoopbackReceiver>();
    std::unique_ptr<testsupport::LoopbackReceiver> rtcpSink;
    for (int tries = 0; tries < 20 && !(rtcpSink && rtcpSink->Ok()); ++tries) {
        rtpSink = std::make_unique<testsupport::LoopbackReceiver>();
        rtcpSink = std::make_unique<testsupport::LoopbackReceiver>(
            static_cast<uint16_t>(rtpSink->Port() + 1));
    }
    ASSERT_TRUE(rtcpSink && rtcpSink->Ok()) << "no free pair of ports";
    const testsupport::LoopbackReceiver sapSink(9875);  // taken: someone listens anyway
    const uint16_t rtpPort = rtpSink->Port();
    const std::string port = std::to_string(rtpPort);
    const std::string rtcpPort = std::to_string(rtpPort + 1);
    ASSERT_EQ(Shell(cli + " create paging"), 0);
    ASSERT_EQ(Shell(cli + " add-file paging " + Quoted(tone)), 0);
    ASSERT_EQ(Shell(cli + " add-dest paging " + (group ? "239.255.18.1 " : "127.0.0.1 ") + port),
              0);
    ASSERT_EQ(Shell(cli + " set paging --rtcp on --sap " + (group ? "on" : "all")), 0);

    const std::string capture = (m_dir / "paging.pcap").string();
    ASSERT_EQ(Shell(wrap + "bash " + Quoted(SONVEX_CAPTURE_SCRIPT) + " " + cli + " paging " +
                    Quoted(capture) + " 7 'udp port " + port + " or udp port " + rtcpPort +
                    " or udp port 9875'" + flags),
              0);
    const std::string read = "tshark -r " + Quoted(capture) + " -d udp.port==" + port +
                             ",rtp -d udp.port==" + rtcpPort + ",rtcp ";
    EXPECT_TRUE(Lines(read + "-Y _ws.malformed -T fields -e frame.number").empty());
    // The stream's SSRC is drawn at random for the run.
    const auto ssrcs = Lines(read + "-Y rtp -T fields -e rtp.ssrc");
    ASSERT_FALSE(ssrcs.empty());
    const std::string ssrc = ssrcs.front();
    const size_t packets =
        Lines(read + "-Y 'rtp.ssrc == " + ssrc + "' -T fields -e rtp.seq").size();
    ASSERT_GT(packets, 200u);
    EXPECT_EQ(packets, ssrcs.size()) << "one source";

    // Sender reports: SR and SDES in each, BYE in the last; counts that only grow.
    const auto reports = Lines(read +
                               "-Y rtcp -T fields -E separator=/t -e rtcp.pt "
                               "-e rtcp.senderssrc -e rtcp.sender.packetcount "
                               "-e rtcp.sdes.text -e rtcp.length_check.bad");
    ASSERT_FALSE(reports.empty());
    for (size_t r = 0; r < reports.size(); ++r) {
        SCOPED_TRACE(reports[r]);
        const auto fields = Fields(reports[r]);
        ASSERT_GE(fields.size(), 4u);
        const bool last = r + 1 == reports.size();
        EXPECT_EQ(fields[0], last ? "200,202,203" : "200,202");
        EXPECT_EQ(fields[1], ssrc);
        EXPECT_EQ(fields[3].rfind("sonvex@", 0), 0u);
        if (last) {
            EXPECT_EQ(fields[2], std::to_string(packets));
        }
        EXPECT_TRUE(fields.size() < 5 || fields[4].empty()) << "bad length";
    }

    // Announcements from the sending address, then the deletion. Another test's stream may
    // announce to 127.0.0.1's SAP port at the same time: only this stream's count.
    const auto announcements =
        Lines(read + "-Y 'sap && sdp.media contains \"audio " + port +
              " \"' -T fields -E separator=/t -e sap.flags.v -e sap.flags.t "
              "-e sap.originating_source -e sap.payload_type -e sdp.media -e ip.dst");
    ASSERT_GE(announcements.size(), 2u);
    for (size_t a = 0; a < announcements.size(); ++a) {
        SCOPED_TRACE(announcements[a]);
        const auto fields = Fields(announcements[a]);
        ASSERT_EQ(fields.size(), 6u);
        EXPECT_EQ(fields[0], "1");
        EXPECT_EQ(fields[1], a + 1 == announcements.size() ? "1" : "0");
        EXPECT_EQ(fields[2], "127.0.0.1");
        EXPECT_EQ(fields[3], "application/sdp");
        EXPECT_EQ(fields[4], "audio " + port + " RTP/AVP 0");
        EXPECT_EQ(fields[5], group ? "239.255.255.255" : "127.0.0.1");
    }

    // The announced description, as captured, is all ffmpeg is given.
    const auto payload = Lines(read + "-Y 'sap.flags.t == 0 && sdp.media contains \"audio " + port +
                               " \"' -T fields -e udp.payload");
    ASSERT_FALSE(payload.empty());
    std::string sdp;
    for (size_t i = 0; i + 1 < payload[0].size(); i += 2) {
        sdp += static_cast<char>(std::stoi(payload[0].substr(i, 2), nullptr, 16));
    }
    const size_t start = sdp.find("v=0");
    ASSERT_NE(start, std::string::npos);
    const std::filesystem::path announced = m_dir / "announced.sdp";
    std::ofstream(announced, std::ios::binary) << sdp.substr(start);
    const std::filesystem::path recording = m_dir / "recording.wav";
    rtpSink.reset();  // ffmpeg binds the pair
    rtcpSink.reset();
    ASSERT_EQ(Shell(wrap + "bash " + Quoted(SONVEX_RECORD_SCRIPT) + " " + cli + " paging " +
                    Quoted(announced.string()) + " " + Quoted(recording.string()) + " " +
                    std::to_string(kRecordSeconds) + flags + " >/dev/null"),
              0);
    ExpectTheTone(Samples(recording));
}

INSTANTIATE_TEST_SUITE_P(Destinations, AnnouncementTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "MulticastInANamespace" : "Unicast");
                         });

}  // namespace
