#include "platform/udpsocket.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

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

}  // namespace
