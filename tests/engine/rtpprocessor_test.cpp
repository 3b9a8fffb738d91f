#include "engine/rtpprocessor.h"

#include "engine/rtpfanout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/udpreceiver.h"

// Starts a sender's counters where a test wants them.
class RtpProcessorTestPeer {
public:
    static void SetCounters(RtpProcessor& sender, uint32_t sequence, uint32_t timestamp,
                            bool firstPacket) {
        sender.m_sequence = sequence;
        sender.m_timestamp = timestamp;
        sender.m_firstPacket = firstPacket ? 1 : 0;
    }
};

namespace {

constexpr int kPcmu = 0;
constexpr int kPcma = 8;

std::vector<uint8_t> Payload(size_t n, uint8_t seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

// The datagram the sender must produce, built field by field.
std::vector<uint8_t> Expected(bool marker, int payloadType, uint16_t sequence, uint32_t timestamp,
                              uint32_t ssrc, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> d = {
        0x80,
        static_cast<uint8_t>((marker ? 0x80 : 0x00) | payloadType),
        static_cast<uint8_t>(sequence >> 8),
        static_cast<uint8_t>(sequence),
        static_cast<uint8_t>(timestamp >> 24),
        static_cast<uint8_t>(timestamp >> 16),
        static_cast<uint8_t>(timestamp >> 8),
        static_cast<uint8_t>(timestamp),
        static_cast<uint8_t>(ssrc >> 24),
        static_cast<uint8_t>(ssrc >> 16),
        static_cast<uint8_t>(ssrc >> 8),
        static_cast<uint8_t>(ssrc),
    };
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

class RtpFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_receiver.Ok()); }

    int Send(RtpProcessor& sender, const std::vector<uint8_t>& payload, int payloadType) {
        return sender.SendPacket(payload.data(), static_cast<int>(payload.size()),
                                 UdpReceiver::LoopbackIp(), m_receiver.Port(), payloadType);
    }
    std::vector<uint8_t> Next() {
        auto got = m_receiver.Receive();
        EXPECT_TRUE(got.has_value()) << "no datagram arrived";
        return got.value_or(std::vector<uint8_t>{});
    }

    UdpReceiver m_receiver;
};

class RtpPayloadType : public RtpFixture, public ::testing::WithParamInterface<int> {};

TEST_P(RtpPayloadType, FirstPacketsCarryMarkerSequenceAndTimestamp) {
    const int pt = GetParam();
    RtpProcessor sender;
    EXPECT_FALSE(sender.SocketReady()) << "no socket before the first packet";

    const auto first = Payload(160, 1);
    EXPECT_EQ(Send(sender, first, pt), 172);
    EXPECT_TRUE(sender.SocketReady());
    EXPECT_EQ(Next(), Expected(true, pt, 1, 0, RtpProcessor::kDefaultSsrc, first));

    const auto second = Payload(160, 2);
    EXPECT_EQ(Send(sender, second, pt), 172);
    EXPECT_EQ(Next(), Expected(false, pt, 2, 160, RtpProcessor::kDefaultSsrc, second));

    // A new file with another packet size continues the counters, without a marker.
    const auto third = Payload(320, 3);
    EXPECT_EQ(Send(sender, third, pt), 332);
    EXPECT_EQ(Next(), Expected(false, pt, 3, 320, RtpProcessor::kDefaultSsrc, third));
    EXPECT_EQ(sender.Sequence(), 3u);
    EXPECT_EQ(sender.Timestamp(), 640u);
    EXPECT_EQ(sender.SendErrors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(G711, RtpPayloadType, ::testing::Values(kPcmu, kPcma),
                         [](const auto& param) { return param.param == kPcmu ? "PCMU" : "PCMA"; });

TEST_F(RtpFixture, PayloadTypeAndPortUseOnlyTheirLowBits) {
    RtpProcessor sender;
    const auto payload = Payload(4, 9);
    // 0x88: the high bit must not masquerade as a marker once the first packet is out.
    ASSERT_EQ(Send(sender, payload, kPcmu), 16);
    Next();
    ASSERT_EQ(sender.SendPacket(payload.data(), 4, UdpReceiver::LoopbackIp(),
                                m_receiver.Port() + 0x10000, 0x88),
              16);
    EXPECT_EQ(Next(), Expected(false, kPcma, 2, 4, RtpProcessor::kDefaultSsrc, payload));
}

TEST_F(RtpFixture, SequenceWrapsAfter65535Packets) {
    RtpProcessor sender;
    RtpProcessorTestPeer::SetCounters(sender, 65534, 65534, false);
    const auto payload = Payload(1, 0);
    ASSERT_EQ(Send(sender, payload, kPcmu), 13);
    EXPECT_EQ(Next(), Expected(false, kPcmu, 65535, 65534, RtpProcessor::kDefaultSsrc, payload));
    ASSERT_EQ(Send(sender, payload, kPcmu), 13);
    EXPECT_EQ(Next(), Expected(false, kPcmu, 0, 65535, RtpProcessor::kDefaultSsrc, payload));
    ASSERT_EQ(Send(sender, payload, kPcmu), 13);
    EXPECT_EQ(Next(), Expected(false, kPcmu, 1, 65536, RtpProcessor::kDefaultSsrc, payload));
}

TEST_F(RtpFixture, TimestampWrapsModulo2To32) {
    RtpProcessor sender;
    RtpProcessorTestPeer::SetCounters(sender, 0, 0xFFFFFF00u, false);
    const auto payload = Payload(0x180, 5);
    ASSERT_EQ(Send(sender, payload, kPcmu), 12 + 0x180);
    EXPECT_EQ(Next(), Expected(false, kPcmu, 1, 0xFFFFFF00u, RtpProcessor::kDefaultSsrc, payload));
    ASSERT_EQ(Send(sender, payload, kPcmu), 12 + 0x180);
    EXPECT_EQ(Next(), Expected(false, kPcmu, 2, 0x80u, RtpProcessor::kDefaultSsrc, payload));
}

TEST_F(RtpFixture, TwoSendersDifferOnlyInSsrc) {
    RtpProcessor first;
    RtpProcessor second;
    first.SetSsrc(25);  // the engine's (index + 5)^2 for indexes 0 and 1
    second.SetSsrc(36);
    for (int packet = 0; packet < 3; ++packet) {
        const auto payload = Payload(160, static_cast<uint8_t>(packet));
        ASSERT_EQ(Send(first, payload, kPcma), 172);
        ASSERT_EQ(Send(second, payload, kPcma), 172);
        const auto a = Next();
        const auto b = Next();
        ASSERT_EQ(a.size(), 172u);
        ASSERT_EQ(b.size(), 172u);
        const auto ts = static_cast<uint32_t>(packet * 160);
        const auto seq = static_cast<uint16_t>(packet + 1);
        EXPECT_EQ(a, Expected(packet == 0, kPcma, seq, ts, 25, payload));
        EXPECT_EQ(b, Expected(packet == 0, kPcma, seq, ts, 36, payload));
    }
}

// A closed port answers with ICMP port unreachable, which the connected socket reports on its
// next send; that datagram is sent again, so the sender loses none and counts no error, and
// the senders of the other destinations, before and after it in the fan-out, lose nothing.
TEST_F(RtpFixture, ARefusedDestinationDisturbsNoOtherSender) {
    uint16_t closedPort = 0;
    {
        UdpReceiver gone;
        ASSERT_TRUE(gone.Ok());
        closedPort = gone.Port();
    }
    UdpReceiver third;
    ASSERT_TRUE(third.Ok());
    RtpProcessor before;
    RtpProcessor refused;
    RtpProcessor after;
    constexpr int kPackets = 20;
    for (int k = 0; k < kPackets; ++k) {
        const auto payload = Payload(160, static_cast<uint8_t>(k));
        const auto expected =
            Expected(k == 0, kPcmu, static_cast<uint16_t>(k + 1), static_cast<uint32_t>(k * 160),
                     RtpProcessor::kDefaultSsrc, payload);
        ASSERT_EQ(Send(before, payload, kPcmu), 172);
        ASSERT_EQ(
            refused.SendPacket(payload.data(), 160, UdpReceiver::LoopbackIp(), closedPort, kPcmu),
            172);
        ASSERT_EQ(
            after.SendPacket(payload.data(), 160, UdpReceiver::LoopbackIp(), third.Port(), kPcmu),
            172);
        EXPECT_EQ(Next(), expected);
        EXPECT_EQ(third.Receive().value_or(std::vector<uint8_t>{}), expected);
    }
    EXPECT_EQ(refused.SendErrors() + before.SendErrors() + after.SendErrors(), 0u);
    EXPECT_EQ(refused.Sequence(), static_cast<uint32_t>(kPackets));

    // Re-targeted at a listening port, the same sender delivers the next packet.
    const auto payload = Payload(160, 99);
    ASSERT_EQ(Send(refused, payload, kPcmu), 172);
    EXPECT_EQ(Next(), Expected(false, kPcmu, kPackets + 1, kPackets * 160,
                               RtpProcessor::kDefaultSsrc, payload));
}

// The fan-out, whether its sends go through io_uring or one by one (where the kernel refuses
// the ring both run the loop): every sender's datagram is exactly what SendPacket would have
// sent, a destination with no listener costs no datagram and no error, and a payload too long
// is refused for all with nothing moved.
class FanOutModes : public ::testing::TestWithParam<platform::UdpBatch::Mode> {};

TEST_P(FanOutModes, EachSenderKeepsItsPacketsAndCounters) {
    uint16_t closedPort = 0;
    {
        UdpReceiver gone;
        ASSERT_TRUE(gone.Ok());
        closedPort = gone.Port();
    }
    UdpReceiver first;
    UdpReceiver last;
    ASSERT_TRUE(first.Ok() && last.Ok());
    const uint32_t ip = UdpReceiver::LoopbackIp();
    std::vector<RtpDestination> destinations(3);
    const uint16_t ports[3] = {first.Port(), closedPort, last.Port()};
    RtpProcessor senders[3];
    for (size_t i = 0; i < 3; ++i) {
        destinations[i].IP = ip;
        destinations[i].Port = ports[i];
        senders[i].SetSsrc(static_cast<uint32_t>(100 + i));
    }
    RtpFanOut fanOut(3, GetParam());
    constexpr int kPackets = 20;
    for (int k = 0; k < kPackets; ++k) {
        const auto payload = Payload(160, static_cast<uint8_t>(k));
        const size_t sent =
            fanOut.Send(senders, destinations.data(), 3, payload.data(), 160, kPcmu);
        EXPECT_EQ(sent, 3u);
        const auto seq = static_cast<uint16_t>(k + 1);
        const auto ts = static_cast<uint32_t>(k * 160);
        EXPECT_EQ(first.Receive().value_or(std::vector<uint8_t>{}),
                  Expected(k == 0, kPcmu, seq, ts, 100, payload));
        EXPECT_EQ(last.Receive().value_or(std::vector<uint8_t>{}),
                  Expected(k == 0, kPcmu, seq, ts, 102, payload));
    }
    EXPECT_EQ(senders[1].Sequence(), static_cast<uint32_t>(kPackets));
    for (const RtpProcessor& sender : senders) {
        EXPECT_EQ(sender.SendErrors(), 0u);
    }

    const auto tooLong = Payload(RtpProcessor::kMaxPayloadBytes + 1, 0);
    EXPECT_EQ(fanOut.Send(senders, destinations.data(), 3, tooLong.data(),
                          static_cast<int>(tooLong.size()), kPcmu),
              0u);
    for (const RtpProcessor& sender : senders) {
        EXPECT_EQ(sender.Sequence(), static_cast<uint32_t>(kPackets));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FanOutModes,
                         ::testing::Values(platform::UdpBatch::Mode::Ring,
                                           platform::UdpBatch::Mode::Loop));

TEST_F(RtpFixture, PayloadBeyondThePacketBufferIsRefusedUntouched) {
    RtpProcessor sender;
    std::vector<uint8_t> payload = Payload(RtpProcessor::kMaxPayloadBytes + 1, 3);
    EXPECT_EQ(Send(sender, payload, kPcmu), -1);
    EXPECT_EQ(
        sender.SendPacket(payload.data(), -1, UdpReceiver::LoopbackIp(), m_receiver.Port(), kPcmu),
        -1);
    EXPECT_EQ(sender.SendPacket(nullptr, 10, UdpReceiver::LoopbackIp(), m_receiver.Port(), kPcmu),
              -1);
    EXPECT_FALSE(m_receiver.Receive(100).has_value());
    EXPECT_EQ(sender.Sequence(), 0u);
    EXPECT_EQ(sender.Timestamp(), 0u);
    EXPECT_TRUE(sender.FirstPacketPending());

    // The largest payload that fits makes an 8000-byte datagram.
    payload.pop_back();
    EXPECT_EQ(Send(sender, payload, kPcmu), RtpProcessor::kMaxPacketBytes);
    EXPECT_EQ(Next(), Expected(true, kPcmu, 1, 0, RtpProcessor::kDefaultSsrc, payload));
}

TEST_F(RtpFixture, EmptyPayloadSendsABareHeader) {
    RtpProcessor sender;
    ASSERT_EQ(sender.SendPacket(nullptr, 0, UdpReceiver::LoopbackIp(), m_receiver.Port(), kPcmu),
              12);
    EXPECT_EQ(Next(), Expected(true, kPcmu, 1, 0, RtpProcessor::kDefaultSsrc, {}));
}

TEST_F(RtpFixture, EachSenderOwnsOneSocketClosedWithIt) {
    const int before = OpenDescriptorCount();
    {
        RtpProcessor a;
        RtpProcessor b;
        EXPECT_EQ(OpenDescriptorCount(), before) << "sockets open on first use only";
        const auto payload = Payload(8, 0);
        Send(a, payload, kPcmu);
        Send(a, payload, kPcmu);
        Send(b, payload, kPcmu);
        EXPECT_EQ(OpenDescriptorCount(), before + 2);
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
