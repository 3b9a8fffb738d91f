#include "playlist/calendarpattern.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "support/zonescope.h"

namespace {

using testsupport::ZoneScope;

int64_t Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

std::string UtcText(int64_t instant) {
    if (instant < 0) {
        return "never";
    }
    const time_t t = static_cast<time_t>(instant);
    std::tm parts{};
    ::gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%a %Y-%m-%d %H:%M:%S", &parts);
    return text;
}

TEST(CalendarPatternTest, EveryWayOfWritingATimeReadsAsOneNormalForm) {
    const struct {
        const char* text;
        const char* normal;
    } cases[] = {
        {"Mon..Fri 08:00", "Mon..Fri *-*-* 08:00:00"},
        {"*-*-* 12:30:00", "*-*-* 12:30:00"},
        {"2027-01-04 07:55", "2027-01-04 07:55:00"},
        {"27-1-4", "2027-01-04 00:00:00"},
        {"hourly", "*-*-* *:00:00"},
        {"WEEKLY", "Mon *-*-* 00:00:00"},
        {"sat,sunday 9:5", "Sat,Sun *-*-* 09:05:00"},
        {"Fri..Mon 8..16/2:00", "Mon,Fri..Sun *-*-* 08..16/2:00:00"},
        {"Mon-Wed 01-01", "Mon..Wed *-01-01 00:00:00"},
        {"*:0/15", "*-*-* *:00/15:00"},
        {"  Tue   *-*-1,15  06:45:30 ", "Tue *-*-01,15 06:45:30"},
    };
    for (const auto& c : cases) {
        const CalendarPattern pattern = CalendarPattern::Parse(c.text);
        ASSERT_TRUE(pattern.Valid()) << c.text << ": " << pattern.Reason();
        EXPECT_EQ(pattern.Normalized(), c.normal) << c.text;
        // The normal form reads back as itself.
        EXPECT_EQ(CalendarPattern::Parse(pattern.Normalized()).Normalized(), c.normal) << c.text;
    }
}

TEST(CalendarPatternTest, ATimeThatCannotBeReadIsRefusedWithItsReason) {
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"", "empty"},
        {"Mon..Fry 08:00", "\"Mon..Fry\" is not a weekday"},
        {"25:00", "the hour 25 is out of range 0-23"},
        {"08:60", "the minute 60 is out of range 0-59"},
        {"2027-13-01", "the month 13 is out of range 1-12"},
        {"2300-01-01", "the year 2300 is out of range 1970-2199"},
        {"12:00 UTC", "a time zone cannot be named"},
        {"08:00 2027-01-01", "the date comes before the time of day"},
        {"*-*-~1", "month's end"},
        {"8..6:00", "the range runs backwards"},
        {"*:*/0", "the repetition must be at least 1"},
        {"12:30:15.5", "fractions of a second"},
        {"12:3x", "is not a valid minute"},
        {"1:2:3:4", "is not a time of day"},
        {"noon", "\"noon\" is not a weekday"},
        {"08:00\n", "control character"},
        {std::string(300, '*'), "longer than 256 characters"},
    };
    for (const auto& c : cases) {
        const CalendarPattern pattern = CalendarPattern::Parse(c.text);
        EXPECT_FALSE(pattern.Valid()) << c.text;
        EXPECT_NE(pattern.Reason().find(c.reason), std::string::npos)
            << c.text << " gave: " << pattern.Reason();
        EXPECT_EQ(pattern.NextAfter(0), -1);
    }
}

TEST(CalendarPatternTest, TheNextOccurrenceIsStrictlyAfterAndHonoursEveryField) {
    const ZoneScope zone("UTC");
    const struct {
        const char* text;
        int64_t after;
        const char* next;
    } cases[] = {
        // Saturday morning: the next weekday bell is Monday's.
        {"Mon..Fri 08:00", Utc(2027, 1, 2, 9, 0), "Mon 2027-01-04 08:00:00"},
        // Exactly at the time: the next one, not this one.
        {"Mon..Fri 08:00", Utc(2027, 1, 4, 8, 0), "Tue 2027-01-05 08:00:00"},
        {"Mon..Fri 08:00", Utc(2027, 1, 4, 7, 59, 59), "Mon 2027-01-04 08:00:00"},
        {"*-02-29 12:00", Utc(2027, 3, 1, 0, 0), "Tue 2028-02-29 12:00:00"},
        {"*-*-31", Utc(2027, 4, 1, 0, 0), "Mon 2027-05-31 00:00:00"},
        {"*:0/15", Utc(2027, 6, 30, 23, 50), "Thu 2027-07-01 00:00:00"},
        {"Fri *-*-13", Utc(2027, 1, 1, 0, 0), "Fri 2027-08-13 00:00:00"},
        {"2027-01-04 07:55", Utc(2026, 12, 10, 0, 0), "Mon 2027-01-04 07:55:00"},
        {"2020-01-01", Utc(2026, 12, 10, 0, 0), "never"},
        {"*-02-30", Utc(2026, 12, 10, 0, 0), "never"},
    };
    for (const auto& c : cases) {
        const CalendarPattern pattern = CalendarPattern::Parse(c.text);
        ASSERT_TRUE(pattern.Valid()) << c.text;
        EXPECT_EQ(UtcText(pattern.NextAfter(c.after)), c.next) << c.text;
    }
}

// Berlin goes forward on 2027-03-28 (02:00 CET becomes 03:00 CEST) and back on 2027-10-31
// (03:00 CEST becomes 02:00 CET).
TEST(CalendarPatternTest, DaylightSavingSkippedTimesFireAtTheJumpAndRepeatedTimesOnce) {
    const ZoneScope zone("Europe/Berlin");
    const CalendarPattern half = CalendarPattern::Parse("*-*-* 02:30");
    ASSERT_TRUE(half.Valid());
    // 02:30 does not exist on the 28th: it fires when the clocks jump, 03:00 CEST.
    int64_t next = half.NextAfter(Utc(2027, 3, 26, 12, 0));
    EXPECT_EQ(UtcText(next), "Sat 2027-03-27 01:30:00");  // 02:30 CET
    next = half.NextAfter(next);
    EXPECT_EQ(UtcText(next), "Sun 2027-03-28 01:00:00");  // the jump
    next = half.NextAfter(next);
    EXPECT_EQ(UtcText(next), "Mon 2027-03-29 00:30:00");  // 02:30 CEST
    // 02:30 happens twice on 31 October: once, the first time.
    next = half.NextAfter(Utc(2027, 10, 30, 12, 0));
    EXPECT_EQ(UtcText(next), "Sun 2027-10-31 00:30:00");  // 02:30 CEST
    next = half.NextAfter(next);
    EXPECT_EQ(UtcText(next), "Mon 2027-11-01 01:30:00");  // 02:30 CET, the next day

    // An hourly event goes from the first 02:00 to 03:00 CET; it is not played twice.
    const CalendarPattern hourly = CalendarPattern::Parse("hourly");
    next = hourly.NextAfter(Utc(2027, 10, 30, 23, 30));
    EXPECT_EQ(UtcText(next), "Sun 2027-10-31 00:00:00");  // 02:00 CEST
    next = hourly.NextAfter(next);
    EXPECT_EQ(UtcText(next), "Sun 2027-10-31 02:00:00");  // 03:00 CET

    // The weekday is the local one: Monday 00:30 in Berlin is Sunday in UTC.
    const CalendarPattern monday = CalendarPattern::Parse("Mon 00:30");
    EXPECT_EQ(UtcText(monday.NextAfter(Utc(2027, 1, 1, 0, 0))), "Sun 2027-01-03 23:30:00");
    EXPECT_EQ(LocalInstant(2027, 3, 28, 2, 0, 0), Utc(2027, 3, 28, 1, 0));
    EXPECT_EQ(LocalInstant(2027, 10, 31, 2, 0, 0), Utc(2027, 10, 31, 0, 0));
}

}  // namespace
