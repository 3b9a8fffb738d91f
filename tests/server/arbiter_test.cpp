// Who holds each destination, packet by packet, and how the others are heard under it.

#include "server/arbiter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int64_t kPacketNs = 20000000;

ArbiterSource Source(uint64_t id, int priority, uint64_t order, std::vector<uint32_t> slots,
                     bool duck = true) {
    ArbiterSource s;
    s.id = id;
    s.priority = priority;
    s.order = order;
    s.duck = duck;
    s.duckGain = static_cast<float>(std::pow(10.0, -15.0 / 20.0));
    s.slots = std::move(slots);
    return s;
}

}  // namespace

TEST(ArbiterTest, HighestPriorityHoldsFirstStartedBreaksTiesOthersDuckOrMute) {
    Arbiter arbiter;
    // 0: music everywhere; 1: an announcement on slot 0; 2: a later one of the same priority
    // on slots 0 and 1, muted when interrupted; 3: a page that is not ready yet.
    std::vector<ArbiterSource> sources = {Source(10, 10, 0, {0, 1, 2}), Source(11, 50, 1, {0}),
                                          Source(12, 50, 2, {0, 1}, false),
                                          Source(13, 70, 3, {0, 1, 2})};
    sources[3].present = false;
    arbiter.Decide(sources, 3, kPacketNs);
    EXPECT_EQ(arbiter.At(0).holder, 1U);  // the tie goes to the one that started first
    EXPECT_EQ(arbiter.At(1).holder, 2U);
    EXPECT_EQ(arbiter.At(2).holder, 0U);
    ASSERT_EQ(arbiter.At(0).parts.size(), 2U);  // 2 is muted there, the music ducked
    EXPECT_EQ(arbiter.At(0).parts[1].source, 0U);
    EXPECT_TRUE(arbiter.Heard(0) && arbiter.Heard(1) && arbiter.Heard(2));
    EXPECT_FALSE(arbiter.Heard(3));

    // The page is ready: it takes every slot; the muted source is now heard nowhere and
    // holds its place, the ducked ones stay heard under it.
    sources[3].present = true;
    arbiter.Decide(sources, 3, kPacketNs);
    for (size_t s = 0; s < 3; ++s) {
        EXPECT_EQ(arbiter.At(s).holder, 3U) << s;
    }
    EXPECT_FALSE(arbiter.Heard(2));
    EXPECT_TRUE(arbiter.Heard(0) && arbiter.Heard(1));

    // As an emergency it mutes everything else.
    sources[3].priority = Arbiter::kEmergency;
    arbiter.Decide(sources, 3, kPacketNs);
    for (size_t s = 0; s < 3; ++s) {
        EXPECT_EQ(arbiter.At(s).parts.size(), 1U) << s;
    }
    EXPECT_FALSE(arbiter.Heard(0) || arbiter.Heard(1) || arbiter.Heard(2));
}

TEST(ArbiterTest, DuckRampsDownOverAHundredMillisecondsAndBackUp) {
    Arbiter arbiter;
    std::vector<ArbiterSource> sources = {Source(1, 10, 0, {0})};
    arbiter.Decide(sources, 1, kPacketNs);
    EXPECT_EQ(arbiter.At(0).parts[0].from, 1.0F);  // a holder starts at full level
    sources.push_back(Source(2, 50, 1, {0}));
    const float duck = sources[0].duckGain;
    float last = 1.0F;
    for (int k = 0; k < 5; ++k) {  // 5 packets of 20 ms
        arbiter.Decide(sources, 1, kPacketNs);
        const Arbiter::Part& part = arbiter.At(0).parts.at(1);
        EXPECT_FLOAT_EQ(part.from, last);  // each packet continues where the last ended
        EXPECT_LT(part.to, part.from);
        last = part.to;
    }
    EXPECT_NEAR(last, duck, 1e-5);
    arbiter.Decide(sources, 1, kPacketNs);
    EXPECT_FLOAT_EQ(arbiter.At(0).parts.at(1).to, duck);  // and stays there
    // The announcement ends: the music holds again and ramps back up.
    arbiter.Forget(2);
    sources.pop_back();
    arbiter.Decide(sources, 1, kPacketNs);
    EXPECT_FLOAT_EQ(arbiter.At(0).parts[0].from, duck);
    EXPECT_GT(arbiter.At(0).parts[0].to, duck);
    for (int k = 0; k < 5; ++k) {
        arbiter.Decide(sources, 1, kPacketNs);
    }
    EXPECT_FLOAT_EQ(arbiter.At(0).parts[0].to, 1.0F);
}
