#include "platform/udpsocket.h"

#include "platform/udpbatch.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/udpreceiver.h"

namespace {

const uint8_t kData[3] = {1, 2, 3};

TEST(UdpSocket, SendsOnlyOpenAndConnectedAndClosesOnDestruction) {
    UdpReceiver first;
    UdpReceiver second;
    ASSERT_TRUE(first.Ok() && second.Ok());
    const uint32_t ip = UdpReceiver::LoopbackIp();
    const int before = OpenDescriptorCount();
    {
        platform::UdpSocket socket;
        EXPECT_FALSE(socket.Connect(ip, first.Port())) << "not open";
        EXPECT_EQ(socket.Send(kData, sizeof kData), -1);

        ASSERT_TRUE(socket.Open());
        ASSERT_TRUE(socket.Open()) << "opening twice keeps the one socket";
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
        EXPECT_EQ(socket.Send(kData, sizeof kData), -1) << "not connected";
        ASSERT_TRUE(socket.Connect(ip, first.Port()));
        EXPECT_TRUE(socket.IsConnectedTo(ip, first.Port()));
        EXPECT_EQ(socket.Send(kData, sizeof kData), 3);
        EXPECT_EQ(first.Receive(), (std::vector<uint8_t>{1, 2, 3}));

        // Re-targeted, the datagrams go to the new destination only.
        ASSERT_TRUE(socket.Connect(ip, second.Port()));
        EXPECT_FALSE(socket.IsConnectedTo(ip, first.Port()));
        EXPECT_EQ(socket.Send(kData, 1), 1);
        EXPECT_EQ(second.Receive(), (std::vector<uint8_t>{1}));
        EXPECT_FALSE(first.Receive(50).has_value());

        // Closed, it sends nothing; reopened, it needs connecting again.
        socket.Close();
        EXPECT_FALSE(socket.IsConnectedTo(ip, second.Port()));
        EXPECT_EQ(socket.Send(kData, 1), -1);
        ASSERT_TRUE(socket.Open());
        EXPECT_EQ(socket.Send(kData, 1), -1);
        ASSERT_TRUE(socket.Connect(ip, second.Port()));
        EXPECT_EQ(socket.Send(kData, 1), 1);
        EXPECT_TRUE(second.Receive().has_value());

        std::vector<uint8_t> huge(70000);
        EXPECT_EQ(socket.Send(huge.data(), huge.size()), -1) << "fails without blocking";
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// The TOS byte each datagram arrives with, as the receiving socket reports it.
int ReceivedTos(int fd) {
    uint8_t data[64];
    char control[64];
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (::recvmsg(fd, &msg, 0) < 0) {
        return -1;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS) {
            return *CMSG_DATA(c);
        }
    }
    return -1;
}

TEST(UdpSocket, MarksDatagramsExpeditedForwardingAndTakesMulticastOptions) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    const int fd = receiver.Descriptor();
    const int on = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on), 0);

    platform::UdpSocket socket;
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(socket.Connect(UdpReceiver::LoopbackIp(), receiver.Port()));
    ASSERT_EQ(socket.Send(kData, 1), 1);
    EXPECT_EQ(ReceivedTos(fd), 0xB8) << "DSCP 46";
    ASSERT_TRUE(socket.SetTos(0));
    ASSERT_EQ(socket.Send(kData, 1), 1);
    EXPECT_EQ(ReceivedTos(fd), 0);

    EXPECT_TRUE(socket.SetMulticastTtl(16));
    EXPECT_TRUE(socket.SetMulticastInterface("lo"));
    EXPECT_TRUE(socket.SetMulticastInterface(""));
    EXPECT_FALSE(socket.SetMulticastInterface("no-such-if0"));
    EXPECT_FALSE(socket.SetMulticastTtl(-5));

    // Settings made while closed are applied when the socket opens.
    platform::UdpSocket later;
    EXPECT_TRUE(later.SetTos(0x28));
    ASSERT_TRUE(later.Open());
    ASSERT_TRUE(later.Connect(UdpReceiver::LoopbackIp(), receiver.Port()));
    ASSERT_EQ(later.Send(kData, 1), 1);
    EXPECT_EQ(ReceivedTos(fd), 0x28);
}

// A port of 127.0.0.1 nothing listens on (0 when none could be had).
uint16_t ClosedPort() {
    const UdpReceiver gone;
    return gone.Port();
}

// A closed port answers each datagram with ICMP "port unreachable", which the system reports
// on the socket's next send, failing it with nothing sent. Every send still succeeds, and
// once a listener binds the port all the datagrams that follow arrive, the first included
// (it meets the error the last unheard one drew).
TEST(UdpSocket, AClosedPortCostsNoDatagram) {
    const uint16_t port = ClosedPort();
    ASSERT_NE(port, 0);
    platform::UdpSocket socket;
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(socket.Connect(UdpReceiver::LoopbackIp(), port));
    for (int k = 0; k < 50; ++k) {
        ASSERT_EQ(socket.Send(kData, sizeof kData), 3) << "send " << k;
    }
    UdpReceiver listener(port);
    ASSERT_TRUE(listener.Ok()) << "port " << port << " taken since";
    for (uint8_t k = 0; k < 3; ++k) {
        ASSERT_EQ(socket.Send(&k, 1, kData, 1), 2);
    }
    for (uint8_t k = 0; k < 3; ++k) {
        EXPECT_EQ(listener.Receive().value_or(std::vector<uint8_t>{}),
                  (std::vector<uint8_t>{k, 1}));
    }
}

// The same through a batch, whether it goes through io_uring or one send per socket: the
// closed port's datagrams all go, the other socket's arrive once each (the second round sends
// no datagram twice), and a datagram too long still fails after its second try.
class UdpBatchModes : public ::testing::TestWithParam<platform::UdpBatch::Mode> {};

TEST_P(UdpBatchModes, AClosedPortCostsNoDatagramAndRealFailuresStay) {
    const uint16_t port = ClosedPort();
    ASSERT_NE(port, 0);
    UdpReceiver other;
    ASSERT_TRUE(other.Ok());
    const uint32_t ip = UdpReceiver::LoopbackIp();
    platform::UdpSocket refused;
    platform::UdpSocket heard;
    platform::UdpSocket unconnected;
    ASSERT_TRUE(refused.Open() && heard.Open() && unconnected.Open());
    ASSERT_TRUE(refused.Connect(ip, port) && heard.Connect(ip, other.Port()));
    const std::vector<uint8_t> huge(70000);
    platform::UdpBatch batch(4, GetParam());
    for (uint8_t k = 0; k < 50; ++k) {
        ASSERT_TRUE(batch.Add(refused, &k, 1, kData, 2));
        ASSERT_TRUE(batch.Add(heard, &k, 1, kData, 2));
        ASSERT_TRUE(batch.Add(heard, huge.data(), huge.size(), nullptr, 0));
        ASSERT_TRUE(batch.Add(unconnected, &k, 1, nullptr, 0));
        ASSERT_EQ(batch.Submit(), 4u);
        ASSERT_EQ(batch.Result(0), 3) << "round " << int{k};
        EXPECT_EQ(batch.Result(1), 3);
        EXPECT_EQ(batch.Result(2), -1) << "too long";
        EXPECT_EQ(batch.Result(3), -1) << "not connected";
        EXPECT_EQ(other.Receive().value_or(std::vector<uint8_t>{}),
                  (std::vector<uint8_t>{k, 1, 2}));
    }
    EXPECT_TRUE(other.TakeAll().empty());

    UdpReceiver listener(port);
    ASSERT_TRUE(listener.Ok()) << "port " << port << " taken since";
    for (uint8_t k = 0; k < 3; ++k) {
        ASSERT_TRUE(batch.Add(refused, &k, 1, nullptr, 0));
        ASSERT_EQ(batch.Submit(), 1u);
        EXPECT_EQ(batch.Result(0), 1);
        EXPECT_EQ(listener.Receive().value_or(std::vector<uint8_t>{}), (std::vector<uint8_t>{k}));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, UdpBatchModes,
                         ::testing::Values(platform::UdpBatch::Mode::Ring,
                                           platform::UdpBatch::Mode::Loop));

}  // namespace
