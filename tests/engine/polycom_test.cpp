// Polycom group paging: the packets byte for byte, a session's schedule stepped on a clock
// the test drives (the Alert burst, the Transmits with their redundant frame and sample count,
// a slot without audio, the gap and the End burst), and a Polycom destination of the
// transmitter as a loopback receiver sees it (what arrives, not when).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/g711.h"
#include "engine/polycompackets.h"
#include "engine/polycomsession.h"
#include "engine/transmitter.h"
#include "playlist/destinationcheck.h"
#include "support/loopbackreceiver.h"

namespace {

polycom::Sender Sonvex() {
    polycom::Sender sender;
    sender.channel = 26;
    sender.serial = 0x12345678;
    std::strcpy(sender.callerId, "Sonvex");
    return sender;
}

struct Sent {
    int64_t atNs;
    std::vector<uint8_t> bytes;
};

}  // namespace

TEST(PolycomPackets, HeaderTransmitAndCallerIdAreAsPhonesReadThem) {
    uint8_t out[polycom::kMaxPacketBytes];
    const std::vector<uint8_t> alert = {0x0F, 0x1A, 0x12, 0x34, 0x56, 0x78, 0x0D, 0x53, 0x6F, 0x6E,
                                        0x76, 0x65, 0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(polycom::WriteControl(out, polycom::OpCode::kAlert, Sonvex()), 20u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 20), alert);
    ASSERT_EQ(polycom::WriteControl(out, polycom::OpCode::kEnd, Sonvex()), 20u);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(out + 1, out + 20),
              std::vector<uint8_t>(alert.begin() + 1, alert.end()));

    // A caller ID of the full 13 characters has no NUL; a longer or unprintable one is refused.
    polycom::Sender full = Sonvex();
    std::strcpy(full.callerId, "Reception Dsk");
    polycom::WriteControl(out, polycom::OpCode::kAlert, full);
    EXPECT_EQ(std::memcmp(out + 7, "Reception Dsk", 13), 0);
    EXPECT_EQ(destinationcheck::CallerIdProblem("Reception Dsk"), "");
    EXPECT_NE(destinationcheck::CallerIdProblem("Reception Desk"), "");
    EXPECT_NE(destinationcheck::CallerIdProblem("tab\there"), "");

    const std::vector<uint8_t> previous(160, 0x11);
    const std::vector<uint8_t> current(160, 0x22);
    ASSERT_EQ(polycom::WriteTransmit(out, Sonvex(), polycom::Codec::kG722, 0xFFFFFF60, nullptr,
                                     current.data()),
              186u);
    EXPECT_EQ(std::vector<uint8_t>(out + 20, out + 26),
              (std::vector<uint8_t>{0x09, 0x00, 0xFF, 0xFF, 0xFF, 0x60}));
    EXPECT_EQ(out[0], 0x10);
    EXPECT_EQ(out[185], 0x22);
    ASSERT_EQ(polycom::WriteTransmit(out, Sonvex(), polycom::Codec::kMulaw, 160, previous.data(),
                                     current.data()),
              346u);
    EXPECT_EQ(out[20], 0x00);
    EXPECT_EQ(out[26], 0x11);
    EXPECT_EQ(out[185], 0x11);
    EXPECT_EQ(out[186], 0x22);
}

// Each range keeps to itself; the thresholds are the emergency and the announcement role's.
TEST(PolycomPackets, ChannelsFollowPriorityWithinTheirRange) {
    struct Case {
        int channel;
        int priority;
        int expected;
    };
    for (const Case c : {Case{26, 10, 26}, Case{26, 49, 26}, Case{26, 50, 49}, Case{26, 99, 49},
                         Case{26, 100, 50}, Case{40, 70, 49}, Case{50, 10, 50}, Case{25, 10, 25},
                         Case{25, 60, 24}, Case{3, 100, 25}, Case{1, 50, 24}}) {
        EXPECT_EQ(polycom::ChannelFor(c.channel, c.priority), c.expected)
            << c.channel << " at " << c.priority;
    }
    EXPECT_EQ(polycom::ChannelRank(50), 2);
    EXPECT_EQ(polycom::ChannelRank(25), 2);
    EXPECT_EQ(polycom::ChannelRank(49), 1);
    EXPECT_EQ(polycom::ChannelRank(24), 1);
    EXPECT_EQ(polycom::ChannelRank(26), 0);
    EXPECT_EQ(polycom::ChannelRank(1), 0);
}

TEST(PolycomSession, AlertsTransmitsGapAndEndsKeepTheirTimes) {
    constexpr int64_t kStart = 1000000000;
    constexpr int kFrames = 5;
    PolycomSession session;
    session.Start(Sonvex(), polycom::Codec::kMulaw, kStart, 0xFFFFFF00);
    std::vector<Sent> sent;
    uint8_t out[polycom::kMaxPacketBytes];
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < kFrames; ++f) {
        frames.emplace_back(160, static_cast<uint8_t>(f + 1));
    }
    size_t next = 0;
    bool skipped = false;
    for (int guard = 0; guard < 200 && session.CurrentPhase() != PolycomSession::Phase::kDone;
         ++guard) {
        const int64_t now = session.DueNs();
        EXPECT_EQ(session.Step(now - 1, frames[0].data(), false, out), 0u) << "early";
        const uint8_t* frame = nullptr;
        if (session.WantsFrame() && next < frames.size()) {
            // The third slot's audio is late: the slot passes without a packet.
            if (next == 2 && !skipped) {
                skipped = true;
            } else {
                frame = frames[next++].data();
            }
        }
        const size_t length = session.Step(now, frame, next == frames.size(), out);
        if (length > 0) {
            sent.push_back({now, std::vector<uint8_t>(out, out + length)});
        }
    }
    ASSERT_EQ(session.CurrentPhase(), PolycomSession::Phase::kDone);
    EXPECT_EQ(session.Step(session.DueNs() + 1000000000, nullptr, true, out), 0u);
    ASSERT_EQ(sent.size(), size_t{31 + kFrames + 12});
    for (int i = 0; i < 31; ++i) {
        EXPECT_EQ(sent[i].bytes[0], 0x0F);
        EXPECT_EQ(sent[i].atNs, kStart + i * 30000000LL) << i;
    }
    const auto sample = [](const std::vector<uint8_t>& p) {
        return uint32_t{p[22]} << 24 | uint32_t{p[23]} << 16 | uint32_t{p[24]} << 8 | p[25];
    };
    for (int f = 0; f < kFrames; ++f) {
        const Sent& t = sent[31 + f];
        SCOPED_TRACE(f);
        ASSERT_EQ(t.bytes[0], 0x10);
        ASSERT_EQ(t.bytes.size(), f == 0 ? 186u : 346u);
        EXPECT_EQ(t.bytes.back(), f + 1);
        EXPECT_EQ(sample(t.bytes), 0xFFFFFF00u + 160u * static_cast<uint32_t>(f));  // wraps
        const int64_t gap = t.atNs - sent[30 + f].atNs;
        // 64 ms after the last Alert; then 20 ms, 40 ms across the slot that had no audio.
        EXPECT_EQ(gap, f == 0 ? 64000000 : f == 2 ? 40000000 : 20000000);
        if (f > 0) {
            EXPECT_EQ(
                std::vector<uint8_t>(t.bytes.begin() + 26, t.bytes.begin() + 186),
                std::vector<uint8_t>(sent[30 + f].bytes.end() - 160, sent[30 + f].bytes.end()))
                << "the redundant frame is the previous packet's current one";
        }
    }
    for (int e = 0; e < 12; ++e) {
        const Sent& end = sent[31 + kFrames + e];
        EXPECT_EQ(end.bytes.size(), 20u);
        EXPECT_EQ(end.bytes[0], 0xFF);
        EXPECT_EQ(end.atNs - sent[30 + kFrames + e].atNs, e == 0 ? 50000000 : 30000000) << e;
    }
}

// Packets of 40 ms of A-law to a Polycom destination: no RTP, the whole session (31 Alerts, one
// Transmit per 20 ms frame in mu-law, 12 Ends) once the run ends; the run's end waits for it.
TEST(PolycomDestination, APlaylistsPacketsBecomeOneSessionOfTwentyMillisecondFrames) {
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    RtpDestination phones = RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port());
    phones.Mode = kModePolycom;
    phones.Channel = 49;
    phones.Serial = 7;
    ASSERT_TRUE(phones.SetCallerId("Front desk"));
    Playlist run;
    run.Destinations = {phones};
    std::vector<uint8_t> alaw(320);
    for (size_t i = 0; i < alaw.size(); ++i) {
        alaw[i] = G711LinearToAlaw(static_cast<int16_t>(i * 64));
    }
    {
        Transmitter transmitter;
        transmitter.Begin(run, "phones", 0, 0);
        for (int k = 0; k < 5; ++k) {
            transmitter.Send(alaw.data(), 320, 8, k * 40000000LL, 8000);
        }
        transmitter.End(200000000, 0);
    }
    const auto packets = receiver.TakeAll();
    ASSERT_EQ(packets.size(), 31u + 10u + 12u);
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& p = packets[i];
        const uint8_t op = i < 31 ? 0x0F : i < 41 ? 0x10 : 0xFF;
        ASSERT_EQ(p[0], op);
        EXPECT_EQ(p[1], 49);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.data() + 7), 10), "Front desk");
        if (op == 0x10) {
            ASSERT_EQ(p.size(), i == 31 ? 186u : 346u);
            EXPECT_EQ(p[20], 0x00);                  // mu-law
            const size_t half = (i - 31) % 2 * 160;  // which half of a 40 ms packet
            for (size_t k = 0; k < 160; k += 37) {
                EXPECT_EQ(p[p.size() - 160 + k],
                          G711LinearToMulaw(G711AlawToLinear(alaw[half + k])));
            }
        }
    }
}
