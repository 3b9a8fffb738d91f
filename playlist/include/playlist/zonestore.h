#pragma once
// Zones: named sets of destinations a playlist, a page or an announcement can be sent to
// instead of its own. Kept beside the playlists, each zone a key with an "RTP" subtree as a
// playlist's, under a base key of their own (every key under the playlists' base is a
// playlist). "All" is not stored: it is every destination the store knows.

#include <string>
#include <vector>

#include "playlist/playlist.h"
#include "playlist/playliststore.h"

struct Zone {
    std::string Name;
    std::vector<RtpDestination> Destinations;
};

class ZoneStore {
public:
    static constexpr const char* kBasePath = "Software\\Quarnel Technologies\\Sonvex Zones";
    static constexpr const char* kAllZone = "All";

    // Every stored zone with its destinations; false when the store cannot be read.
    bool List(std::vector<Zone>& zones);
    // The zone of that name (compared without case). "All" is the union of every playlist's
    // and every zone's destinations, one per address and port, playlists first. False: no
    // such zone (LastFailure None) or the store cannot be read.
    bool Find(const std::string& name, Zone& zone);
    // A new empty zone; false with Problem() for "All", a name taken or refused.
    bool Create(const std::string& name);
    // False with Problem() for a zone that is not there or an address and port it has.
    bool AddDestination(const std::string& zone, const RtpDestination& destination);
    StoreFailure LastFailure() const { return m_failure; }
    const std::string& Problem() const { return m_problem; }

private:
    bool Refuse(std::string problem);
    StoreFailure m_failure = StoreFailure::None;
    std::string m_problem;
};
