#pragma once
// Zones: named sets of RTP destinations that a server plays a playlist to instead of the
// playlist's own, kept in the current user's registry tree beside the playlists (a sibling
// key: every subkey of the playlists' base key is listed as a playlist). Each zone is a key
// whose "RTP" subtree is written and read exactly as a playlist's is. "All" is no stored
// zone: it is every destination the store knows. Every change is one transaction; no key is
// kept open between calls. UI or command thread only, like PlaylistStore.

#include <cstddef>
#include <functional>
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
    static constexpr const char* kAllZone = "All";  // every destination the store knows; not stored

    // Every stored zone with its destinations, in name order (replaces `zones`); none when
    // there are none. False, LastFailure set, when the store cannot be read.
    bool List(std::vector<Zone>& zones);
    // A zone by its name, compared without case, with the name as stored. "All" (any case)
    // gives the union of every playlist's and every zone's destinations, one per address and
    // port (the first met keeps its TTL and interface), in a stable order: playlists by name,
    // then zones. False: no such zone (LastFailure None) or the store cannot be read.
    bool Find(const std::string& name, Zone& zone);
    // Stores an empty zone; refuses "All", a name stored already (compared without case) and
    // names PlaylistStore::NameProblem refuses.
    bool Create(const std::string& name);
    // Appends a destination; refuses "All", a zone not stored and an address and port the
    // zone has already.
    bool AddDestination(const std::string& zone, const RtpDestination& destination);
    // Removes the destination at `index`, counted from 0; refuses one the zone does not have.
    bool RemoveDestination(const std::string& zone, size_t index);
    // Deletes a stored zone; refuses "All" and a zone not stored.
    bool Delete(const std::string& name);

    // Why the latest call failed: None for a refusal of what was asked (see Problem).
    StoreFailure LastFailure() const { return m_failure; }
    // The message of the latest failure or refusal, in the words the command line prints
    // ("there is no zone named "Yard""); empty after a success.
    const std::string& Problem() const { return m_problem; }

private:
    bool Begin();
    bool Refuse(std::string problem, StoreFailure failure = StoreFailure::None);
    bool Fail(StoreFailure failure, const std::string& what);
    // Reads a stored zone's destinations, lets `edit` change them and writes them back, in one
    // transaction; `edit` refuses through Refuse.
    bool EditZone(
        const std::string& name,
        const std::function<bool(const std::string&, std::vector<RtpDestination>&)>& edit);

    StoreFailure m_failure = StoreFailure::None;
    std::string m_problem;
};
