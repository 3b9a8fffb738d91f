#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/autoresetevent.h"
#include "platform/mmtimer.h"

using platform::AutoResetEvent;
using platform::MmTimer;
using platform::WaitResult;
using Clock = std::chrono::steady_clock;

namespace {
double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}
}  // namespace

TEST(AutoResetEvent, SignalsOnceAndCollapsesRepeatedSets) {
    AutoResetEvent event;
    EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);  // created non-signalled
    event.Set();
    event.Set();
    EXPECT_EQ(event.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);  // cleared by the waiter; not queued
    event.Set();
    event.Reset();
    EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);
}

TEST(AutoResetEvent, TimesOutAfterTheGivenTimeAndWakesOnSetFromAnotherThread) {
    AutoResetEvent event;
    auto start = Clock::now();
    EXPECT_EQ(event.Wait(50), WaitResult::TimedOut);
    EXPECT_GE(MsSince(start), 49.0);

    std::thread setter([&event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    start = Clock::now();
    EXPECT_EQ(event.Wait(5000), WaitResult::Signaled);
    EXPECT_LT(MsSince(start), 2000.0);
    setter.join();
}

TEST(MmTimer, RefusesZeroPeriodAndASecondStart) {
    AutoResetEvent event;
    MmTimer timer;
    EXPECT_FALSE(timer.SetEvent(0, event));
    EXPECT_FALSE(timer.IsRunning());
    ASSERT_TRUE(timer.SetEvent(20, event));
    EXPECT_FALSE(timer.SetEvent(20, event));
    timer.Kill();
    timer.Kill();                            // killing a stopped timer is harmless
    EXPECT_TRUE(timer.SetEvent(20, event));  // and it can be set again
}

TEST(MmTimer, TicksAtThePeriodWithoutDriftAndStopsOnKill) {
    AutoResetEvent event;
    MmTimer timer;
    const auto start = Clock::now();
    ASSERT_TRUE(timer.SetEvent(10, event));
    int ticks = 0;
    while (ticks < 30 && event.Wait(1000) == WaitResult::Signaled) {
        ++ticks;
        if (ticks == 10) {
            // A slow consumer: the missed ticks collapse, but the schedule does not shift.
            std::this_thread::sleep_for(std::chrono::milliseconds(35));
        }
    }
    const double elapsed = MsSince(start);
    timer.Kill();
    ASSERT_EQ(ticks, 30);
    // 30 waits with three ticks absorbed during the pause: the 33rd deadline, 330 ms.
    EXPECT_GT(elapsed, 300.0);
    EXPECT_LT(elapsed, 420.0);
    event.Reset();
    EXPECT_EQ(event.Wait(40), WaitResult::TimedOut);  // no tick after Kill returned
}
