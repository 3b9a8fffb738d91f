// SPA-style framing of an RTP stream, as a loopback receiver sees it: two 16-byte start
// packets (id, command 6, the RTP address and port, big-endian) before the first RTP packet,
// two stops (command 7) after the last: at the end of the run, when nothing holds the
// destination for now (and a start again before its next packet), and when the list no
// longer holds it. The control address is the RTP one here, so that one socket sees the order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/transmitter.h"
#include "support/loopbackreceiver.h"

namespace {

uint32_t Be32(const std::vector<uint8_t>& d, size_t at) {
    return uint32_t{d[at]} << 24 | uint32_t{d[at + 1]} << 16 | uint32_t{d[at + 2]} << 8 | d[at + 3];
}

// What arrived, in order: "start", "stop" (each checked against the stream it frames) or
// "rtp".
std::vector<std::string> Arrivals(testsupport::LoopbackReceiver& receiver, uint16_t port) {
    std::vector<std::string> seen;
    uint32_t ssrc = 0;
    std::vector<std::vector<uint8_t>> controls;
    for (const auto& datagram : receiver.TakeAll()) {
        if (datagram.size() == 16) {
            controls.push_back(datagram);
            const uint32_t command = Be32(datagram, 4);
            seen.emplace_back(command == 6 ? "start" : command == 7 ? "stop" : "?");
        } else {
            ssrc = Be32(datagram, 8);
            seen.emplace_back("rtp");
        }
    }
    for (const auto& control : controls) {
        EXPECT_EQ(Be32(control, 0), ssrc) << "the id is the stream's SSRC";
        EXPECT_EQ(Be32(control, 8), 0x7F000001u);
        EXPECT_EQ(Be32(control, 12), port);
    }
    return seen;
}

}  // namespace

TEST(SpaControl, StartsTwiceBeforeTheFirstPacketAndStopsTwiceAfterTheLast) {
    testsupport::LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    RtpDestination spa = RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port());
    spa.Mode = kModeSpa;
    spa.ControlIP = spa.IP;
    spa.ControlPort = receiver.Port();
    Playlist run;
    run.Destinations = {spa};
    const std::vector<uint8_t> payload(160, 0xFF);
    const auto send = [&](Transmitter& t, int64_t at) {
        t.Send(payload.data(), 160, 0, at * 20000000, 8000);
    };
    using Seen = std::vector<std::string>;
    {
        Transmitter transmitter;
        transmitter.Begin(run, "spa", 0, 0);
        for (int k = 0; k < 3; ++k) {
            send(transmitter, k);
        }
        transmitter.End(60000000, 0);
        transmitter.End(60000000, 0);  // nothing more
        EXPECT_EQ(Arrivals(receiver, receiver.Port()),
                  (Seen{"start", "start", "rtp", "rtp", "rtp", "stop", "stop"}));

        // Held by nothing for a while, then again; then the list no longer holds it.
        transmitter.Begin(run, "spa", 0, 0);
        send(transmitter, 0);
        transmitter.Quiet(0);
        transmitter.Quiet(0);
        send(transmitter, 5);
        RtpDestination plain = spa;
        plain.Mode = kModeRtp;
        transmitter.UseDestinations({plain});
        send(transmitter, 6);
        transmitter.End(140000000, 0);
        EXPECT_EQ(Arrivals(receiver, receiver.Port()),
                  (Seen{"start", "start", "rtp", "stop", "stop", "start", "start", "rtp", "stop",
                        "stop", "rtp"}));
        // A transmitter that goes away mid-run stops what it started.
        transmitter.Begin(run, "spa", 0, 0);
        send(transmitter, 0);
    }
    EXPECT_EQ(Arrivals(receiver, receiver.Port()), (Seen{"start", "start", "rtp", "stop", "stop"}));
}
