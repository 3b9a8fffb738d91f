// SendPacket runs on every tick for up to 100 destinations and must not allocate. This
// executable replaces the global allocation functions to count calls inside a window.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/rtpprocessor.h"
#include "engine/transmitter.h"
#include "support/udpreceiver.h"

// The replacements below pair malloc with free on purpose; GCC cannot see that through the
// inlined operator calls.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(RtpProcessorAllocation, SendingAllocatesNothing) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    std::vector<RtpProcessor> senders(100);
    const std::vector<uint8_t> payload(1280, 0x55);
    g_allocations = 0;
    g_counting = true;
    for (int tick = 0; tick < 3; ++tick) {  // the first tick also opens the sockets
        for (RtpProcessor& sender : senders) {
            sender.SendPacket(payload.data(), static_cast<int>(payload.size()),
                              UdpReceiver::LoopbackIp(), receiver.Port(), 0);
        }
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_TRUE(receiver.Receive().has_value());
}

// A server's bank re-describes a destination's SAP announcement when its codec changes, on the
// tick: from descriptions and room made when the destination came.
TEST(TransmitterAllocation, AServersBankFollowingItsCodecsAllocatesNothing) {
    UdpReceiver receiver;
    ASSERT_TRUE(receiver.Ok());
    Transmitter transmitter;
    Transmitter::Extras extras;
    extras.rtcp = true;
    extras.sap = kSapAll;  // unicast: to 127.0.0.1's SAP port
    extras.name = "paging";
    const std::vector<RtpDestination> one = {
        RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port())};
    transmitter.BeginShared(one, extras, 0, 0);
    const std::vector<uint8_t> payload(160, 0x55);
    g_allocations = 0;
    g_counting = true;
    int64_t now = 0;
    for (const int payloadType : {0, 9, 8, 0}) {
        for (int packet = 0; packet < 300; ++packet, now += 20000000) {
            transmitter.Send(payload.data(), 160, payloadType, now, 8000);
            transmitter.Tick(now, now);
        }
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_NE(transmitter.Announcer().Description(0).find("RTP/AVP 0\r\n"), std::string::npos);
    transmitter.End(now, now);
}

}  // namespace
