// SendPacket runs on every tick for up to 100 destinations and must not allocate. This
// executable replaces the global allocation functions to count calls inside a window.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/rtpprocessor.h"
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

}  // namespace
