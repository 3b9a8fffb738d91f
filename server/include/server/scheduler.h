#pragma once
// When the server starts the playlists of its schedule. Each event names a playlist, a
// calendar expression in local time and, optionally, a zone and the time its run stops.
// Asked with the wall clock's seconds (a test's own), it says which events are due:
//
// - an occurrence fires once, at most kGraceSeconds after its time (the server looks
//   several times a second); one missed by more (the server was down, the machine asleep,
//   the clock set forward) is not played late, unless its event asks to catch up: then the
//   latest missed occurrence fires once, as soon as the server can;
// - the clock set back makes every event's next occurrence reckoned again from the new time;
// - a schedule read again keeps the next occurrence of every event it still holds unchanged.
//
// Not thread-safe: the server's control thread only.

#include <cstdint>
#include <string>
#include <vector>

#include "playlist/calendarpattern.h"

class Scheduler {
public:
    static constexpr int64_t kGraceSeconds = 5;

    struct Entry {
        uint32_t id = 0;
        std::string playlist;
        std::string when;   // a calendar expression
        std::string zone;   // empty: the playlist's own destinations
        std::string until;  // empty: the run is not stopped by the schedule
        bool catchUp = false;
        std::string say;  // empty: the playlist plays; else this text is spoken
        std::string voice;
    };
    struct Firing {
        Entry entry;
        int64_t occurrence = 0;  // the time it stands for
        int64_t stopAt = -1;     // when its run stops; -1: never by the schedule
    };

    // The events to keep, as of nowSeconds; an entry whose expression does not parse is left
    // out.
    void Load(const std::vector<Entry>& entries, int64_t nowSeconds);
    // The occurrences of catch-up events missed between lastSeenSeconds (when the server last
    // looked, in an earlier run) and nowSeconds, the latest of each, unless its run would
    // have stopped by now.
    std::vector<Firing> CatchUp(int64_t lastSeenSeconds, int64_t nowSeconds) const;
    // The events due at nowSeconds, each moved on to its next occurrence.
    std::vector<Firing> Due(int64_t nowSeconds);
    // The earliest next occurrence of any event, -1 when none will come.
    int64_t NextSeconds() const;
    size_t Size() const { return m_events.size(); }

private:
    struct Event {
        Entry entry;
        CalendarPattern when;
        CalendarPattern until;
        bool hasUntil = false;
        int64_t next = -1;
    };
    Firing Fire(const Event& event, int64_t occurrence) const;

    std::vector<Event> m_events;
    int64_t m_lastNow = 0;
};
