#pragma once
// Scheduled events: a playlist played at the times of a calendar expression (calendarpattern.h),
// to a zone or to its own destinations. Kept in the current user's registry tree beside the
// playlists and zones, one key per event named by its decimal id; the base key's "NextId"
// value makes sure an id is never given twice, not even after its event is removed. Every
// change is one transaction; no key is kept open between calls. One thread at a time, like
// PlaylistStore (the calendar reads the process's time zone).

#include <cstdint>
#include <string>
#include <vector>

#include "playlist/playliststore.h"

struct ScheduleEvent {
    uint32_t Id = 0;
    std::string Playlist;  // "Playlist"
    // "When": the calendar expression, normalized (CalendarPattern::Normalized).
    std::string When;
    std::string Zone;  // "Zone": empty: the playlist's own destinations
    // "Until": empty: none; else a calendar expression, normalized: the run stops at its first
    // occurrence after the start.
    std::string Until;
    // "CatchUp": 1: an occurrence missed while the server was down is played when it starts.
    int32_t CatchUp = 0;
    // "Say": empty: the playlist's files play; else this text is spoken to the playlist's
    // destinations (or the zone), in the voice "Voice" (empty: the default one).
    std::string Say;
    std::string Voice;
};

class ScheduleStore {
public:
    static constexpr const char* kBasePath = "Software\\Quarnel Technologies\\Sonvex Schedules";

    // Every stored event by id (replaces `events`); an event whose When or Until does not
    // parse is skipped, never played on a guess. False, LastFailure set, when the store
    // cannot be read.
    bool List(std::vector<ScheduleEvent>& events);
    // Stores a new event and sets its Id, its When and Until normalized and its Playlist and
    // Zone to the names as stored. Refuses a When or Until that does not parse (Problem():
    // "when: " or "until: " and CalendarPattern::Reason()), a playlist not stored, and a zone
    // not stored other than "All".
    bool Add(ScheduleEvent& event);
    // False with Problem() when there is no event of that id.
    bool Remove(uint32_t id);

    // Why the latest call failed: None for a refusal of what was asked (see Problem).
    StoreFailure LastFailure() const { return m_failure; }
    // The message of the latest failure or refusal, in the words the command line prints;
    // empty after a success.
    const std::string& Problem() const { return m_problem; }

private:
    void Begin();
    bool Refuse(std::string problem, StoreFailure failure = StoreFailure::None);
    bool Fail(StoreFailure failure, const std::string& what);
    // The checks of Add that need no transaction: the times, the playlist, the zone.
    bool Check(ScheduleEvent& event);
    bool Store(ScheduleEvent& event);

    StoreFailure m_failure = StoreFailure::None;
    std::string m_problem;
};
