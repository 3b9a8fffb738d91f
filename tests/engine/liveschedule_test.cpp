// The live schedule driven as the worker drives it: a packet is taken once it is complete
// and its instant has come, at max(EarliestNs(), completion).
#include "engine/liveschedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kPacketNs = 20 * kMs;
using Step = LiveSchedule::Step;

struct Sends {
    std::vector<int64_t> sentNs;  // when each packet taken left
    std::vector<int64_t> waitNs;  // how long each waited after it completed
    int drops = 0;
};

// Packets that complete every 20 ms from completeNs(0); one whole packet waits at a time, or
// `waiting` of them.
template <typename Completion>
Sends Drive(LiveSchedule& schedule, int packets, bool paced, Completion completeNs,
            uint64_t waiting = 1) {
    Sends run;
    int next = 0;
    while (static_cast<int>(run.sentNs.size()) < packets) {
        const int64_t ready = completeNs(next);
        const int64_t now = std::max(schedule.EarliestNs(), ready);
        const Step step = schedule.Plan(now, waiting, paced);
        if (step == Step::kDrop) {
            ++run.drops;
            ++next;  // what waited is gone
            continue;
        }
        schedule.Taken(step, now, ready);
        run.sentNs.push_back(now);
        run.waitNs.push_back(now - ready);
        ++next;
    }
    return run;
}

void ExpectHeldToRealTime(const Sends& run) {
    for (size_t i = 1; i < run.sentNs.size(); ++i) {
        EXPECT_GE(run.sentNs[i] - run.sentNs[i - 1], kPacketNs) << "packet " << i;
    }
}

TEST(LiveSchedule, AScheduleAnchoredLateStartsAgainOnceAndNeverSendsTwoInAPacketTime) {
    // The first packet came 15.6 ms after the device's steady phase (its start's burst): every
    // later one completes 15.6 ms before its instant and would wait that long.
    LiveSchedule schedule;
    schedule.Start(kPacketNs);
    const Sends run = Drive(schedule, 100, true, [](int n) {
        return n == 0 ? 0 : n * kPacketNs - static_cast<int64_t>(15.6 * kMs);
    });
    EXPECT_EQ(run.drops, 1);
    ExpectHeldToRealTime(run);
    for (size_t i = 1 + LiveSchedule::kEarlyPackets; i < run.waitNs.size(); ++i) {
        EXPECT_EQ(run.waitNs[i], 0) << "packet " << i;
    }
    // The instants the timestamps follow stay a packet apart, but for one gap a little longer
    // where the audio that waited was dropped: the next packet's completion, 4.4 ms on.
    EXPECT_EQ(schedule.ScheduleNs() - schedule.FirstScheduleNs(),
              99 * kPacketNs + static_cast<int64_t>(4.4 * kMs));
}

TEST(LiveSchedule, AStartALittleBehindTheDevicesPhaseSettlesWithinItsFirstSecondOnly) {
    // Every packet from packet `from` on completes `leadMs` before its instant, and from
    // packet `from2` on `lead2Ms` more.
    const auto lead = [](double leadMs, int from, double lead2Ms = 0, int from2 = 0) {
        return [=](int n) {
            return n * kPacketNs - (n >= from ? static_cast<int64_t>(leadMs * kMs) : 0) -
                   (from2 > 0 && n >= from2 ? static_cast<int64_t>(lead2Ms * kMs) : 0);
        };
    };
    // 1.9 ms behind: the packet that shows it waits, no later one does, and the instants the
    // timestamps follow stay a packet apart.
    LiveSchedule behind;
    behind.Start(kPacketNs);
    const Sends settled = Drive(behind, 100, true, lead(1.9, 1));
    EXPECT_EQ(settled.drops, 0);
    EXPECT_EQ(settled.waitNs[1], static_cast<int64_t>(1.9 * kMs));
    for (size_t i = 2; i < settled.waitNs.size(); ++i) {
        EXPECT_EQ(settled.waitNs[i], 0) << "packet " << i;
    }
    EXPECT_EQ(behind.ScheduleNs() - behind.FirstScheduleNs(), 99 * kPacketNs);

    // The schedule moves half a packet at most: 6 ms behind, then 6 ms more, and 2 ms is
    // still waited.
    LiveSchedule far;
    far.Start(kPacketNs);
    const Sends capped = Drive(far, 30, true, lead(6.0, 1, 6.0, 10));
    EXPECT_EQ(capped.waitNs[9], 0);
    EXPECT_EQ(capped.waitNs.back(), 2 * kMs);
    ExpectHeldToRealTime(Sends{{capped.sentNs.begin() + 11, capped.sentNs.end()}, {}, 0});

    // A lead that comes later is a device's drift, which the trim follows; nor does a device
    // free of real time move its schedule.
    LiveSchedule drifting;
    drifting.Start(kPacketNs);
    const Sends drift = Drive(drifting, 100, true, lead(1.0, 60));
    EXPECT_EQ(drift.waitNs.back(), 1 * kMs);
    LiveSchedule free;
    free.Start(kPacketNs);
    ExpectHeldToRealTime(Drive(free, 50, false, lead(1.9, 1)));
}

TEST(LiveSchedule, OnlyAClockedDeviceFarEarlyStartsAgain) {
    // Completions wander up to 9.9 ms early and 3 ms late (caught up with): jitter, never a
    // restart.
    LiveSchedule jittery;
    jittery.Start(kPacketNs);
    const Sends wander = Drive(jittery, 1000, true, [](int n) {
        const int64_t offsets[] = {-9900000, 3000000, -5000000, 0, -9900000, -9900000};
        return n * kPacketNs + (n == 0 ? 0 : offsets[n % 6]);
    });
    EXPECT_EQ(wander.drops, 0);
    EXPECT_LT(*std::max_element(wander.waitNs.begin(), wander.waitNs.end()), kPacketNs / 2);

    // A device free of real time has every packet ready long before its instant: each keeps
    // its turn, and none of its audio is dropped.
    LiveSchedule free;
    free.Start(kPacketNs);
    const Sends file = Drive(
        free, 200, false, [](int n) { return static_cast<int64_t>(n) * kMs; }, 50);
    EXPECT_EQ(file.drops, 0);
    ExpectHeldToRealTime(file);
    EXPECT_EQ(file.sentNs.back() - file.sentNs.front(), 199 * kPacketNs);
}

}  // namespace
