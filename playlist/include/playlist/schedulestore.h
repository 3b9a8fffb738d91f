#pragma once
// The schedule: events that start a playlist at the times of a calendar expression, kept
// beside the playlists, one key per event named by its number (numbers are not reused: the
// base key's "NextId" counts on).

#include <cstdint>
#include <string>
#include <vector>

#include "playlist/playliststore.h"

struct ScheduleEvent {
    uint32_t Id = 0;
    std::string Playlist;  // "Playlist"
    std::string When;      // "When": the calendar expression, normalized
    std::string Zone;      // "Zone": empty: the playlist's own destinations
    std::string Until;     // "Until": empty: none; else when the run stops
    int32_t CatchUp = 0;   // "CatchUp": 1 plays an occurrence missed while the server was down
};

class ScheduleStore {
public:
    static constexpr const char* kBasePath = "Software\\Quarnel Technologies\\Sonvex Schedules";

    // Every event, by number; false when the store cannot be read.
    bool List(std::vector<ScheduleEvent>& events);
    // Checks the expressions (Problem() says which is refused, and why), stores the event and
    // sets its Id.
    bool Add(ScheduleEvent& event);
    // False with Problem() when there is no such event.
    bool Remove(uint32_t id);
    StoreFailure LastFailure() const { return m_failure; }
    const std::string& Problem() const { return m_problem; }

private:
    bool Refuse(std::string problem);
    StoreFailure m_failure = StoreFailure::None;
    std::string m_problem;
};
