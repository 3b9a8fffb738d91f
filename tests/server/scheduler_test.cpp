// The scheduler on a clock the test turns, in a named time zone.

#include "server/scheduler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/zonescope.h"

namespace {

using testsupport::ZoneScope;

Scheduler::Entry Entry(uint32_t id, const char* when, const char* until = "",
                       bool catchUp = false) {
    Scheduler::Entry e;
    e.id = id;
    e.playlist = "Bells";
    e.when = when;
    e.until = until;
    e.catchUp = catchUp;
    return e;
}

// Every firing from `from` to `to`, looking once a second as the server does.
std::vector<Scheduler::Firing> LookEachSecond(Scheduler& scheduler, int64_t from, int64_t to) {
    std::vector<Scheduler::Firing> all;
    for (int64_t t = from; t <= to; ++t) {
        for (auto& f : scheduler.Due(t)) {
            all.push_back(f);
        }
    }
    return all;
}

}  // namespace

TEST(SchedulerTest, DaylightSavingNightsFireOnceEach) {
    const ZoneScope zone("Europe/Berlin");
    Scheduler scheduler;
    // 2027-03-28: the clocks go from 02:00 to 03:00, so 02:30 never comes; 2027-10-31: they
    // go back from 03:00 to 02:00, so 02:30 comes twice.
    const int64_t springStart = LocalInstant(2027, 3, 28, 1, 0, 0);
    scheduler.Load({Entry(1, "*-*-* 02:30"), Entry(2, "*-*-* 01:30")}, springStart);
    const auto spring = LookEachSecond(scheduler, springStart, springStart + 3 * 3600);
    ASSERT_EQ(spring.size(), 2U);
    EXPECT_EQ(spring[0].entry.id, 2U);
    EXPECT_EQ(spring[0].occurrence, springStart + 1800);
    EXPECT_EQ(spring[1].entry.id, 1U);
    EXPECT_EQ(spring[1].occurrence, LocalInstant(2027, 3, 28, 3, 0, 0));  // at the jump

    const int64_t autumnStart = LocalInstant(2027, 10, 31, 1, 0, 0);
    scheduler.Load({Entry(1, "*-*-* 02:30")}, autumnStart);
    const auto autumn = LookEachSecond(scheduler, autumnStart, autumnStart + 4 * 3600);
    ASSERT_EQ(autumn.size(), 1U);  // the first 02:30 only
    EXPECT_EQ(autumn[0].occurrence, autumnStart + 3600 + 1800);
}

TEST(SchedulerTest, MissedEventsArePlayedLateOnlyWhenAskedAndUntilStopsTheRun) {
    const ZoneScope zone("Europe/Berlin");
    const int64_t eight = LocalInstant(2027, 1, 4, 8, 0, 0);  // a Monday
    Scheduler scheduler;
    scheduler.Load(
        {Entry(1, "Mon..Fri 08:00", "Mon..Fri 17:00"), Entry(2, "Mon..Fri 07:55", "", true),
         Entry(3, "Mon..Fri 07:00", "08:30", true)},
        eight + 600);
    // The server was down from 07:50 to 08:10: no late bell, but the catch-up events' latest
    // occurrences play, as long as their run would still be on.
    const auto late = scheduler.CatchUp(eight - 600, eight + 600);
    ASSERT_EQ(late.size(), 1U);
    EXPECT_EQ(late[0].entry.id, 2U);
    EXPECT_EQ(late[0].occurrence, eight - 300);
    EXPECT_TRUE(scheduler.Due(eight + 600).empty());  // the missed 08:00 stays missed
    EXPECT_EQ(scheduler.NextSeconds(), LocalInstant(2027, 1, 5, 7, 0, 0));

    // Looking a little late (within the grace) still fires, once, with the time its run ends.
    scheduler.Load({Entry(4, "Mon..Fri 08:00", "Mon..Fri 17:00")}, eight - 1);
    EXPECT_TRUE(scheduler.Due(eight - 1).empty());
    const auto due = scheduler.Due(eight + 3);
    ASSERT_EQ(due.size(), 1U);
    EXPECT_EQ(due[0].stopAt, eight + 9 * 3600);
    EXPECT_TRUE(scheduler.Due(eight + 4).empty());
    // Read again, the event keeps its next occurrence: no second firing today.
    scheduler.Load({Entry(4, "Mon..Fri 08:00", "Mon..Fri 17:00")}, eight + 5);
    EXPECT_EQ(scheduler.NextSeconds(), LocalInstant(2027, 1, 5, 8, 0, 0));
    // The clock set back to before 08:00 makes it due again at 08:00.
    EXPECT_TRUE(scheduler.Due(eight - 60).empty());
    EXPECT_EQ(scheduler.Due(eight).size(), 1U);
    // A broken expression is left out, not fired.
    scheduler.Load({Entry(9, "Mon..Fri 25:00")}, eight);
    EXPECT_EQ(scheduler.Size(), 0U);
}
