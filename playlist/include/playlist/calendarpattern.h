#pragma once
// When a scheduled event fires: a calendar expression in the syntax system administrators know
// from timers ("Mon..Fri 08:00", "*-*-* 12:30:00", "2027-01-04 07:55", "hourly"), read once and
// asked for its next occurrences in the machine's local time zone.
//
// The expression is "[WEEKDAYS] [DATE] [TIME]" or one of the shorthands minutely, hourly,
// daily, weekly, monthly, quarterly, semiannually, yearly (annually). WEEKDAYS is a comma list
// of names and ranges ("Mon..Fri", "Sat,Sun"); DATE is "Y-M-D" or "M-D"; TIME is "H:M" or
// "H:M:S". Each number may be "*", a list ("0,30"), a range ("8..17") and a repetition
// ("0/15", "8..17/2"). A missing date is every day, a missing time midnight, missing seconds 0.
// Weekdays and date must both match.
//
// Local time and daylight saving: a wall-clock time the clocks skip (02:30 on the night they
// go forward) fires once, at the instant the clocks jump past it; one that occurs twice (the
// night they go back) fires once, at its first occurrence.
//
// Used by one thread at a time: it reads the process's time zone through the C library.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CalendarPattern {
public:
    // The years an expression may name: beyond them no event fires.
    static constexpr int kFirstYear = 1970;
    static constexpr int kLastYear = 2199;

    // Reads `text`; Valid() tells whether it was understood and Reason() why not.
    static CalendarPattern Parse(std::string_view text);

    bool Valid() const { return m_reason.empty(); }
    // Why the text was refused ("the hour 25 is out of range 0-23"); empty when valid.
    const std::string& Reason() const { return m_reason; }
    // The expression written out in full, one way for every way of writing it:
    // "Mon..Fri *-*-* 08:00:00".
    std::string Normalized() const;

    // The first instant strictly after `afterSeconds` (seconds since the epoch) at which the
    // expression matches local time, or -1 when it never does again (before kLastYear ends).
    int64_t NextAfter(int64_t afterSeconds) const;

private:
    // One field's values as spans "first..last/step" as written, and the values they select.
    struct Field {
        struct Span {
            int first = 0;
            int last = 0;
            int step = 1;
        };
        std::vector<Span> spans;  // empty: every value ("*")
        bool Matches(int value) const;
        // The smallest selected value at or above `from` up to `top`, or -1.
        int NextFrom(int from, int top) const;
    };

    bool ParseWeekdays(std::string_view text);
    // The date and the time of day, after any weekdays.
    bool ParseParts(const std::vector<std::string_view>& tokens);
    bool ParseDate(std::string_view text);
    bool ParseTime(std::string_view text);
    bool ParseField(std::string_view text, const char* name, int low, int high, Field& field);
    bool ParseNumber(std::string_view digits, std::string_view field, const char* name, int low,
                     int high, int& value);
    static std::string FieldText(const Field& field, int width, int high);
    std::string WeekdayText() const;
    bool Refuse(std::string reason);
    bool DayMatches(int year, int month, int day) const;
    // The earliest matching time of day at or after h:m:s, or false.
    bool TimeFrom(int& hour, int& minute, int& second) const;

    Field m_years;
    Field m_months;
    Field m_days;
    Field m_hours;
    Field m_minutes;
    Field m_seconds;
    uint8_t m_weekdays = 0x7F;  // bit 0 Monday .. bit 6 Sunday
    std::string m_reason;
};

// The instant of a local wall-clock time by the rules above: the first occurrence of a time
// that occurs twice, the end of the jump for one that the clocks skip. For the scheduler and
// its tests.
int64_t LocalInstant(int year, int month, int day, int hour, int minute, int second);
