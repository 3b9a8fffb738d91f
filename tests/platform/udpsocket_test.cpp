#include "platform/udpsocket.h"

#include <gtest/gtest.h>

#include "support/udpreceiver.h"

namespace {

TEST(UdpSocket, SendsOnlyOnceOpenAndClosesOnDestruction) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    const uint8_t data[3] = {1, 2, 3};
    const int before = OpenDescriptorCount();
    {
        platform::UdpSocket socket;
        EXPECT_FALSE(socket.IsOpen());
        EXPECT_EQ(socket.SendTo(data, sizeof data, UdpReceiver::LoopbackIp(), receiver.Port()), -1);
        EXPECT_FALSE(receiver.Receive(50).has_value());

        ASSERT_TRUE(socket.Open());
        ASSERT_TRUE(socket.Open()) << "opening twice keeps the one socket";
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
        EXPECT_EQ(socket.SendTo(data, sizeof data, UdpReceiver::LoopbackIp(), receiver.Port()), 3);
        const auto got = receiver.Receive();
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, (std::vector<uint8_t>{1, 2, 3}));
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(UdpSocket, CloseThenSendFailsAndReopenWorks) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    platform::UdpSocket socket;
    ASSERT_TRUE(socket.Open());
    socket.Close();
    EXPECT_FALSE(socket.IsOpen());
    const uint8_t data[1] = {9};
    EXPECT_EQ(socket.SendTo(data, 1, UdpReceiver::LoopbackIp(), receiver.Port()), -1);
    ASSERT_TRUE(socket.Open());
    EXPECT_EQ(socket.SendTo(data, 1, UdpReceiver::LoopbackIp(), receiver.Port()), 1);
    EXPECT_TRUE(receiver.Receive().has_value());
}

TEST(UdpSocket, OversizedDatagramFailsWithoutBlocking) {
    platform::UdpSocket socket;
    ASSERT_TRUE(socket.Open());
    std::vector<uint8_t> huge(70000);
    EXPECT_EQ(socket.SendTo(huge.data(), huge.size(), UdpReceiver::LoopbackIp(), 9), -1);
}

}  // namespace
